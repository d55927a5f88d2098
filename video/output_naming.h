#pragma once

#include <ctime>
#include <string>

// The name of the ffmpeg executable looked for in the working directory.
const char* ffmpegExecutableName();

char pathSeparator();

// "%04d_%02d%02d_%02d%02d_%02d": year, month and day, hour and minute, second.
std::string formatStamp(const std::tm& localTime);

// "output<sep>cap1_<stamp>.<extension>"; the recording's re-encoded copy
// passes ".avi" and so gets two dots. A `counter` above 1 goes before the
// extension: "cap1_<stamp>_2.avi", "cap1_<stamp>_2..avi".
std::string outputFileName(const std::string& stamp, const char* extension, int counter = 1);

std::tm currentLocalTime();

// The name of a new movie in output/: the stamp of now, waiting up to a
// second and a half for the next one while the name is taken, then counting.
std::string makeOutputFileName(const char* extension);
