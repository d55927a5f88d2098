#pragma once

// The console trace of the program: every slot prints its name and the values
// it works on. Each line is flushed at once so that the trace keeps its order
// against ffmpeg's output and survives a crash when piped to a file.
void diag(const char* format, ...)
#if defined(__GNUC__)
    __attribute__((format(printf, 1, 2)))
#endif
    ;
