#include "strobe/strobe_layer_store.h"

#include <algorithm>
#include <utility>

#include <QTemporaryFile>

#include "video/diagnostics.h"

LayerStore::LayerStore(size_t budgetBytes) : budget_(budgetBytes) {}

LayerStore::~LayerStore() = default;

std::shared_ptr<const Layer> LayerStore::put(int key, SparsePixels pixels)
{
    if (entries_.empty())
        firstKey_ = key;
    CV_Assert(key == firstKey_ + static_cast<int>(entries_.size()));
    auto layer = std::make_shared<const Layer>(compactLayer(std::move(pixels)));
    Entry entry;
    const size_t bytes = layer->bytes();
    // A layer that cannot go to the file stays in memory: a movie that may
    // not fit is better than none.
    if (bytesInMemory_ + bytes <= budget_ || !spill(*layer, entry)) {
        entry.layer = layer;
        bytesInMemory_ += bytes;
    }
    entries_.push_back(std::move(entry));
    return layer;
}

void LayerStore::dropBefore(int key)
{
    while (!entries_.empty() && firstKey_ < key) {
        const Entry& entry = entries_.front();
        if (entry.layer)
            bytesInMemory_ -= entry.layer->bytes();
        else
            freeSlots_.push_back(entry.slot);
        entries_.pop_front();
        ++firstKey_;
    }
}

bool LayerStore::layOver(cv::Mat& frame, int first, int end, int threshold)
{
    CV_Assert(first >= firstKey_ && end <= firstKey_ + static_cast<int>(entries_.size()));
    for (int key = first; key < end;) {
        if (!at(key).layer) {
            // Each pixel's outcome depends only on that pixel's layers, in
            // their order: a layer from the file goes over the whole frame
            // between the layers before and after it.
            if (!readBack(at(key))) {
                diag("  a layer cannot be read back from its temporary file\n");
                return false;
            }
            ::layOver(frame, readLayer_, threshold, 0, frame.rows);
            ++key;
            continue;
        }
        // The layers kept in memory go over a few rows at a time, each layer
        // in turn: over a band that small the rows stay in the cache from one
        // layer to the next (at 1080p a little faster than a pass over the
        // whole frame per layer, as measured). The bands are not spread across
        // the cores: while a movie is made they are busy decoding ahead and
        // encoding, and splitting only added contention.
        int runEnd = key;
        while (runEnd < end && at(runEnd).layer)
            ++runEnd;
        constexpr int kBand = 8;
        for (int y0 = 0; y0 < frame.rows; y0 += kBand)
            for (int k = key; k < runEnd; ++k)
                ::layOver(frame, *at(k).layer, threshold, y0, std::min(frame.rows, y0 + kBand));
        key = runEnd;
    }
    return true;
}

bool LayerStore::spill(const Layer& layer, Entry& entry)
{
    if (fileFailed_)
        return false;
    if (!file_) {
        file_ = std::make_unique<QTemporaryFile>();
        size_ = layer.size();
        slotBytes_ = static_cast<size_t>(size_.area()) * 3;
    }
    CV_Assert(layer.size() == size_ && layer.bytes() <= slotBytes_);
    entry.slot = slots_;
    if (!freeSlots_.empty()) {
        entry.slot = freeSlots_.back();
        freeSlots_.pop_back();
    }
    entry.dense = layer.isDense();
    entry.count = layer.sparse.count();
    const auto write = [this](const void* data, size_t n) {
        return n == 0 || file_->write(static_cast<const char*>(data), static_cast<qint64>(n)) ==
                             static_cast<qint64>(n);
    };
    const SparsePixels& sparse = layer.sparse;
    const bool written =
        (file_->isOpen() || file_->open()) &&
        file_->seek(static_cast<qint64>(entry.slot * slotBytes_)) &&
        (entry.dense ? layer.dense.isContinuous() && write(layer.dense.data, slotBytes_)
                     : write(sparse.rowStart.data(), sparse.rowStart.size() * sizeof(int)) &&
                           write(sparse.col.data(), sparse.col.size() * sizeof(int)) &&
                           write(sparse.bgr.data(), sparse.bgr.size()));
    if (!written) {
        // Most likely the disk is full; trying again for every layer would
        // only slow the movie down.
        diag("  the temporary file of the layers cannot be written: they stay in memory\n");
        fileFailed_ = true;
        return false;
    }
    slots_ = std::max(slots_, entry.slot + 1);
    return true;
}

bool LayerStore::readBack(const Entry& entry)
{
    const auto read = [this](void* data, size_t n) {
        return n == 0 || file_->read(static_cast<char*>(data), static_cast<qint64>(n)) ==
                             static_cast<qint64>(n);
    };
    if (!file_->seek(static_cast<qint64>(entry.slot * slotBytes_)))
        return false;
    if (entry.dense) {
        readLayer_.dense.create(size_, CV_8UC3);
        return read(readLayer_.dense.data, slotBytes_);
    }
    readLayer_.dense.release();
    SparsePixels& sparse = readLayer_.sparse;
    sparse.size = size_;
    sparse.rowStart.resize(static_cast<size_t>(size_.height) + 1);
    sparse.col.resize(entry.count);
    sparse.bgr.resize(3 * entry.count);
    return read(sparse.rowStart.data(), sparse.rowStart.size() * sizeof(int)) &&
           read(sparse.col.data(), sparse.col.size() * sizeof(int)) &&
           read(sparse.bgr.data(), sparse.bgr.size());
}
