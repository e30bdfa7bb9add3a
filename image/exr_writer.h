// The EXR copy of a finished image (option -E), written through OpenEXR: the colours as the renderer
// computed them, before they were clipped to bytes.
#pragma once

#include <string>

namespace quorva {

struct FrameBuffers;

// The EXR name beside a Targa name: ".tga" replaced by ".exr" (appended when the name has no ".tga").
std::string exrNameFor(const std::string& targaPath);

// Writes the frame as half-float R, G, B, A (and a float Z channel, the camera distance, when the frame
// has depths), rows top-down, uncompressed. Each channel is the unclipped value kept in frame.linear where
// that value still gives the byte the image holds, and that byte / 255 otherwise (a pixel filtered, averaged
// or kept from an older image after the value was taken). The file appears under its name only once it
// is whole. Fatal "Failed to write EXR image file %s" when it cannot be written.
void writeExrImage(const FrameBuffers& frame, const std::string& exrPath);

}  // namespace quorva
