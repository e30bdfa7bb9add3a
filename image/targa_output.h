// The Targa output writer: header and image ID, 24/32-bit (8/16-bit for depth files) pixels,
// uncompressed or run-length encoded, written band by band so that a stopped render leaves a valid
// file; resuming from an older image of the same name; Z-channel dumps.
#pragma once

#include <cstdio>
#include <memory>
#include <string>
#include <vector>

namespace quorva {

struct FrameBuffers;

struct TargaOutput;  // defined in image/targa_writer.h

// Owning pointer usable where TargaOutput is incomplete; destroying it closes the file without
// completing it (closeTargaOutput is the normal end). An abandoned resumed render puts the old image
// back unless the new file already holds all of its rows.
struct TargaOutputDeleter {
    void operator()(TargaOutput* out) const;
};
using TargaOutputPtr = std::unique_ptr<TargaOutput, TargaOutputDeleter>;

// Creates the writer; with `resume`, first scans an existing file of that name and keeps it aside
// under a unique temporary name so its complete rows can be read back. Writes header and image ID.
// `width`/`height` are the frame's.
TargaOutputPtr openTargaOutput(bool compressed, const std::string& path, int width, int height, bool resume,
                               int bitsPerPixel);
// Writes rows first..min(last, height - 1) of the SBuffer and flushes the pending packet, so the file
// on disk always ends after a whole row. With `averageBlocks` (preview modes with anti-aliasing) each
// pixel written is the mean of the 2x2 block at columns x, x+1 and rows y, y+1.
void writeTargaRows(int first, const FrameBuffers& frame, TargaOutput& out, int last,
                    bool averageBlocks = false);
// Fills one SBuffer row from the old image when resuming (the spare column repeats the last pixel);
// false when the row is not available.
bool readResumedRow(FrameBuffers& frame, TargaOutput& out, int row);
// Completes the file (rows the render did not write are carried over from the old images where they
// drew them, black elsewhere), closes it and removes the old image's copy. A failed write is fatal
// "Failed to write Targa image file %s"; the new file is removed and the old image put back.
void closeTargaOutput(TargaOutputPtr out);
// Rows drawn whole in the old images (1) or not (0).
const std::vector<unsigned char>& rowsDone(const TargaOutput& out);

// The record of drawn pixels. By default every row written counts as drawn whole; a render that
// draws part of the frame (a row or column range, a stop) calls trackDrawnPixels once and then says
// with markDrawn which pixels it drew. Pixels never drawn are written black (alpha 0), the image ID
// says that the image is partial, and a later run draws just them.
void trackDrawnPixels(TargaOutput& out);
void markDrawn(TargaOutput& out, int row, int columnBegin, int columnEnd);
// Drawn in this render or found drawn in an old image.
bool pixelDrawn(const TargaOutput& out, int x, int y);

// Writes the Z channel of the frame once: depth 64 -> base + ".Z64.quorva", 8/16/24/32 -> "%s.Z%d.tga".
// Warns on failure; prints "\nZ-channel dumped to \"%s\"" on success.
void dumpZChannel(FrameBuffers& frame, const std::string& zBase, int depth);

// Per-frame animation names: image "%s%04d.tga" and Z base "%s%04d" from the output base (empty base
// warns and becomes "render"; longer than 120 characters is cut with a warning).
void makeOutputName(std::string& outputBase, int frame, std::string& imageFile, std::string& zBase);

}  // namespace quorva
