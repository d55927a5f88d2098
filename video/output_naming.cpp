#include "video/output_naming.h"

#include <chrono>
#include <cstdio>
#include <thread>

#include <QFileInfo>

#include "video/diagnostics.h"

const char* ffmpegExecutableName()
{
#ifdef _WIN32
    return "ffmpeg.exe";
#else
    return "ffmpeg";
#endif
}

char pathSeparator()
{
#ifdef _WIN32
    return '\\';
#else
    return '/';
#endif
}

std::string formatStamp(const std::tm& t)
{
    char stamp[64];
    std::snprintf(stamp, sizeof stamp, "%04d_%02d%02d_%02d%02d_%02d", t.tm_year + 1900,
                  t.tm_mon + 1, t.tm_mday, t.tm_hour, t.tm_min, t.tm_sec);
    return stamp;
}

std::string outputFileName(const std::string& stamp, const char* extension, int counter)
{
    const std::string base = counter > 1 ? stamp + "_" + std::to_string(counter) : stamp;
    return std::string("output") + pathSeparator() + "cap1_" + base + "." + extension;
}

std::tm currentLocalTime()
{
    const std::time_t now = std::time(nullptr);
    std::tm local{};
#ifdef _WIN32
    localtime_s(&local, &now);
#else
    localtime_r(&now, &local);
#endif
    return local;
}

std::string makeOutputFileName(const char* extension)
{
    std::string stamp = formatStamp(currentLocalTime());
    // Names have one-second resolution. A movie started within the second of
    // an earlier one (a running recording's file exists from its start) would
    // overwrite it, so wait for the next stamp instead.
    for (int wait = 0;
         wait < 30 &&
         QFileInfo::exists(QString::fromLocal8Bit(outputFileName(stamp, extension).c_str()));
         ++wait) {
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
        stamp = formatStamp(currentLocalTime());
    }
    diag("%s\n", stamp.c_str());
    // Still taken (a clock set back, or names made faster than one a second
    // for long): never overwrite, count instead.
    int counter = 1;
    while (QFileInfo::exists(
        QString::fromLocal8Bit(outputFileName(stamp, extension, counter).c_str())))
        ++counter;
    return outputFileName(stamp, extension, counter);
}
