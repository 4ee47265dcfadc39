// The fixed constants of the navigation math, each written once. The settable
// epsilon and limits that hosts read and write through IAgilityPrivate are
// not these: the routines never read those.
#pragma once

namespace KestrinNav {

// A perspective below this is an orthographic view (1e-9 in single precision).
constexpr double kPerspectiveThreshold = static_cast<double>(1e-9f);
// The least eye-to-pivot distance, and the angle below which a rotation is
// the identity (1e-6 in single precision).
constexpr double kNearMargin = static_cast<double>(1e-6f);
// The largest eye-to-pivot distance.
constexpr double kFarLimit = 1000000.0;
// Below this projection denominator the pivot is not tested against the window.
constexpr double kDegenerateDenominator = 1e-9;
// The fly step turns at the delta's rate when the larger half angle of the
// window is this (35 degrees, in radians).
constexpr double kFieldOfViewReference = 0.6108652381980153;

// The entries of the two isometric standard frames: the square roots of 1/2,
// 1/3, 2/3 and 1/6 (the last three of the fractions in single precision),
// each rounded to single precision.
constexpr double kRootHalf = static_cast<double>(0.70710678118654752f);
constexpr double kRootThird = static_cast<double>(0.57735026918962576f);
constexpr double kRootTwoThirds = static_cast<double>(0.81649658092772603f);
constexpr double kRootSixth = static_cast<double>(0.40824829046386302f);

static_assert(kPerspectiveThreshold == 9.999999717180685e-10, "1e-9 widened from single");
static_assert(kNearMargin == 9.999999974752427e-07, "1e-6 widened from single");
static_assert(kFieldOfViewReference == 35.0 * 3.141592653589793 / 180.0, "35 degrees");
static_assert(kRootHalf == 0.7071067690849304, "sqrt(1/2) in single precision");
static_assert(kRootThird == 0.5773502588272095, "sqrt(1/3) in single precision");
static_assert(kRootTwoThirds == 0.8164966106414795, "sqrt(2/3) in single precision");
static_assert(kRootSixth == 0.40824830532073975, "sqrt(1/6) in single precision");

}  // namespace KestrinNav
