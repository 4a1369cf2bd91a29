#include <gtest/gtest.h>

#include "moteur/Noms.h"

using moteur::Affichable;

// A surrogate or an overlong form read from a damaged file is no UTF-8: shown byte by byte, never
// passed on to a message or journal line as it is.
TEST(Noms, AffichableEchappeLesFormesQuiNeSontPasDeLUtf8) {
  EXPECT_EQ(Affichable("a\xED\xA0\x80z"), "a\\xED\\xA0\\x80z");
  EXPECT_EQ(Affichable("\xE0\x81\x81"), "\\xE0\\x81\\x81");
  EXPECT_EQ(Affichable("\xF4\x90\x80\x80"), "\\xF4\\x90\\x80\\x80");
  EXPECT_EQ(Affichable("\xC3\xA9t\xC3\xA9\n\\"), "\xC3\xA9t\xC3\xA9\\n\\\\");
}
