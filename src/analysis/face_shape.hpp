#pragma once
// Geometry of the 68 landmark points (the iBUG 300-W layout of dlib's shape predictor): head
// pose and mouth opening. Points are in picture pixels, y pointing down.
#include <array>

namespace tw::analysis {

struct ShapePoint {
  double x = 0;
  double y = 0;
};

using FaceShape = std::array<ShapePoint, 68>;

// Indices into FaceShape.
namespace landmarks {
inline constexpr int kJawFirst = 0;
inline constexpr int kNoseTip = 30;
inline constexpr int kFirstEyeFirst = 36;   // the eye on the picture's left
inline constexpr int kSecondEyeFirst = 42;  // the eye on the picture's right
inline constexpr int kEyePointCount = 6;
inline constexpr int kMouthLeftCorner = 48;
inline constexpr int kMouthRightCorner = 54;
}  // namespace landmarks

ShapePoint EyeCentre(const FaceShape& shape, int firstPoint);

// Angle of the line from the left eye's centre to the right eye's centre, in radians; positive
// when the line descends to the right (the head leans clockwise in the picture).
double RollFromEyes(const FaceShape& shape);

// Turn of the head about the vertical axis from where the nose tip sits between the two sides
// of the jaw contour; 0 frontal, positive when the nose points to the picture's right. The shape
// must be upright (roll undone).
double YawFromNose(const FaceShape& shape);

// Gap between the inner lips over the mouth's width; about 0 closed, 0.4 and more in a wide laugh.
double MouthOpening(const FaceShape& shape);

}  // namespace tw::analysis
