// The Camera statement's items that carry a rule, built from values both front ends have already read:
// the scene language's Camera items and the binary camera record.
#pragma once

namespace quorva {

struct Camera;
struct Options;

// Antialiasing n: n >= 0 (levels above 10 are the super-adaptive ones).
void buildAntialiasing(Options& o, int n);
// Undersampling n: n in 1..10.
void buildUndersampling(Options& o, int n);
void buildFieldOfView(Camera& c, double degrees);
// Format ( width , height ): at least one pixel each way; the frame buffers are sized from these.
void buildFormat(Camera& c, int width, int height);
// LensModel n: n in 1..6.
void buildLensModel(Camera& c, int n);
// PixelFilter ( type , width x , width y ): a type outside 1..7 is none; widths outside 1..5 are 3.
void buildPixelFilter(Camera& c, int type, double widthX, double widthY);

}  // namespace quorva
