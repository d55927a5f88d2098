#pragma once

#include <string>

#include <opencv2/core.hpp>
#include <opencv2/videoio.hpp>

#include "video/mjpeg_avi_writer.h"

// The codec of the movies written through OpenCV (the recording's fallback).
// Motion JPEG is written by every OpenCV build without an external encoder and
// read by ffmpeg and every common player.
int movieFourcc();

// Opens `writer` for the analysed, manual and strobe movies: Motion JPEG AVI,
// colour frames of `size`. A rate that is not a positive number (a movie whose
// header gives none) is written as 30 fps instead, so the writer still opens.
// Returns whether it opened.
bool openMovieWriter(MjpegAviWriter& writer, const std::string& path, double fps, cv::Size size);

// An image for a writer of frame size `size`: returned as it is when it fits,
// otherwise its top-left part is placed on a black frame of that size (the
// picture always starts at the scene origin, so nothing of the frame is lost;
// only items reaching past it are cut).
cv::Mat fitToFrameSize(const cv::Mat& image, cv::Size size);
