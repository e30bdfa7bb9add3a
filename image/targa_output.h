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
// Completes the file (missing rows black when not resuming; when resuming, rows of the old image the
// render did not reach are carried over), closes it and removes the old image's copy.
void closeTargaOutput(TargaOutputPtr out);
// Rows already present in the old image (1) or not (0), for the render loop to skip.
const std::vector<unsigned char>& rowsDone(const TargaOutput& out);

// Writes the Z channel of the frame once: depth 64 -> base + ".Z64.quorva", 8/16/24/32 -> "%s.Z%d.tga".
// Warns on failure; prints "\nZ-channel dumped to \"%s\"" on success.
void dumpZChannel(FrameBuffers& frame, const std::string& zBase, int depth);

// Per-frame animation names: image "%s%04d.tga" and Z base "%s%04d" from the output base (empty base
// warns and becomes "render"; longer than 120 characters is cut with a warning).
void makeOutputName(std::string& outputBase, int frame, std::string& imageFile, std::string& zBase);

}  // namespace quorva
