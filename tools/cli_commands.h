// The orvan-cli commands that live in files of their own, each registered
// on the program's command line (see tools/command_line.h).
#pragma once

#include "tools/command_line.h"

namespace orvan::tools {

// "play": the real playback thread with four viewers drawing into an
// offscreen 720 x 480 video panel (tools/cli_play.cpp).
void AddPlayCommand(CommandLine &cli);

// "hash": SHA-256 and MD5 of a whole source, and an E01's stored hashes
// compared (tools/cli_hash.cpp).
void AddHashCommand(CommandLine &cli);

// "yuv": a still picture as Image Play shows it, or its raw pixels
// (tools/cli_yuv.cpp).
void AddYuvCommand(CommandLine &cli);

// "frames": the table of every index entry of a span, with the timing
// analysis of its pictures (tools/cli_frames.cpp).
void AddFramesCommand(CommandLine &cli);

// "verify": every file an export's manifest lists, checked for its length
// and SHA-256 (tools/cli_verify.cpp).
void AddVerifyCommand(CommandLine &cli);

// "report": the examination report of a disk, HTML or PDF
// (tools/cli_exam_report.cpp, the content from app/report/).
void AddExamReportCommand(CommandLine &cli);
// "survey": what the disk holds beyond the live index; "recover": the
// held-back and intact stale entries written as an export; "carve":
// pictures no entry points to (tools/cli_survey.cpp).
void AddSurveyCommand(CommandLine &cli);

}  // namespace orvan::tools
