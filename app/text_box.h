#pragma once

// Keeps the overlay box inside an open movie's picture; without a movie
// (pictureSize 0) the position is taken as typed.
inline int clampTextBoxPosition(int position, int pictureSize, int boxSize)
{
    if (pictureSize > 0 && position >= pictureSize - boxSize)
        return pictureSize - boxSize;
    return position;
}
