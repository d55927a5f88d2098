#pragma once

#include <opencv2/core.hpp>
#include <opencv2/videoio.hpp>

// Decodes frame `index` of an open capture into `frame` (a new buffer, so a
// failed read leaves whatever the caller holds untouched). Seeks only when
// the capture does not already stand at that frame: stepping through a range
// then decodes sequentially instead of seeking back to a keyframe each time.
// Returns false, leaving `frame` as it was, when there is no such frame.
bool readMovieFrame(cv::VideoCapture& capture, int index, cv::Mat& frame);
