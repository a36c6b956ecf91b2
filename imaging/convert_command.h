#pragma once
// `vantrel convert --to jpg|bmp|png [--quality N] SOURCE TARGET`: the converter for users'
// scripts and batch jobs, with no display needed. JPEG is written as the program saves it:
// quality 100 unless given, optimised Huffman tables, no smoothing. Prints the result code alone
// on a line to standard output (usage problems go to standard error and give -7) and returns the
// exit status: 0 for code 1, otherwise 1.

namespace vantrel::imaging {

// argv[0] is the command word ("convert") or the program; the options follow it.
int runConvertCommand(int argc, char** argv);

} // namespace vantrel::imaging
