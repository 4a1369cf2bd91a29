// The second process of the tests must leave nothing behind, even when it cannot be started.
#include <sys/resource.h>

#include <gtest/gtest.h>

#include "commun/ProcessusAide.h"

namespace {

// How many descriptor numbers below `limite` are free.
int DescripteursLibres(int limite) {
  int libres = 0;
  for (int fd = 0; fd < limite; ++fd)
    if (::fcntl(fd, F_GETFD) < 0) ++libres;
  return libres;
}

// The smallest limit that leaves exactly `n` descriptors free below it.
int LimiteLaissant(int n) {
  int fd = 0;
  for (int libres = 0; libres < n; ++fd)
    if (::fcntl(fd, F_GETFD) < 0) ++libres;
  return fd;
}

// Room for one pipe only: the second one the helper needs is refused.
TEST(ProcessusAide, UnTubeRefuseNeLaisseAucunDescripteurOuvert) {
  const int limite = LimiteLaissant(2);
  rlimit avant{};
  ASSERT_EQ(::getrlimit(RLIMIT_NOFILE, &avant), 0);
  rlimit reduite = avant;
  reduite.rlim_cur = static_cast<rlim_t>(limite);
  ASSERT_EQ(::setrlimit(RLIMIT_NOFILE, &reduite), 0);
  bool refuse = false;
  try {
    utireorg::tests::ProcessusAide aide(CHEMIN_aide_tenue, {"/nulle/part.bd", "lecture"});
  } catch (const std::runtime_error&) {
    refuse = true;
  }
  ::setrlimit(RLIMIT_NOFILE, &avant);
  EXPECT_TRUE(refuse);
  EXPECT_EQ(DescripteursLibres(limite), 2);
}

}  // namespace
