// Helpers shared by the math and the navigation inside the library; not
// exported. Square roots and the circular functions are evaluated in double
// precision and rounded to float.
#pragma once

#include "spatial_math.h"

namespace Kestrin1 {
namespace math {

float Sqrt(float x);
float Sin(float x);
float Cos(float x);
float Atan2(float y, float x);

float Length(const CSpatialMath::AVec3f& v);
float Dot(const CSpatialMath::AVec3f& a, const CSpatialMath::AVec3f& b);

// Element of flat index 3r + c.
float& Element(CSpatialMath::AMat33f& m, int index);
float Element(const CSpatialMath::AMat33f& m, int index);

}  // namespace math
}  // namespace Kestrin1
