#include <gtest/gtest.h>

#include "math/Math387.h"

using namespace veskmath::Math387;

TEST(ComplexSmoke, ProductOfConjugates) {
  const TCplx p = CMul(Cplx(1, 2), Cplx(1, -2));
  EXPECT_EQ(p.Re, 5.0);
  EXPECT_EQ(p.Im, 0.0);
}
