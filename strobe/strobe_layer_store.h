#pragma once

#include <cstddef>
#include <deque>
#include <memory>
#include <vector>

#include <opencv2/core.hpp>

#include "strobe/strobe_sparse.h"

class QTemporaryFile;

// The layers a strobe movie still needs, by consecutive keys (sample or image
// indices). With a low threshold nearly every pixel of a sample is a moving
// one, and N of them outgrow the memory: at threshold 0 and N 999 a 1080p
// movie's layers take 6 GB even in the dense form. So the layers are kept in
// memory while they fit in the budget, and the rest in a temporary file
// (removed with the store), read back one at a time as they are laid over.
class LayerStore
{
public:
    explicit LayerStore(size_t budgetBytes);
    ~LayerStore();
    LayerStore(const LayerStore&) = delete;
    LayerStore& operator=(const LayerStore&) = delete;

    // Keeps the layer of `key`, the key after the last one kept (any key when
    // none is kept). The layer is returned for the caller's own use as well,
    // valid for as long as the caller holds it, wherever the store keeps it.
    std::shared_ptr<const Layer> put(int key, SparsePixels pixels);

    // Forgets the layers before `key`.
    void dropBefore(int key);

    // Lays the layers of keys [first, end) over `frame` in key order (the
    // layOver rule with `threshold`). False when a layer cannot be read back
    // from the file; `frame` is then incomplete.
    bool layOver(cv::Mat& frame, int first, int end, int threshold);

private:
    struct Entry {
        std::shared_ptr<const Layer> layer; // null when the layer is in the file
        size_t slot = 0;                    // where in the file
        size_t count = 0;                   // pixels of a sparse layer
        bool dense = false;
    };
    const Entry& at(int key) const { return entries_[static_cast<size_t>(key - firstKey_)]; }
    bool spill(const Layer& layer, Entry& entry);
    bool readBack(const Entry& entry);

    size_t budget_;
    size_t bytesInMemory_ = 0;
    int firstKey_ = 0;
    std::deque<Entry> entries_;

    // The file is cut into slots of one dense layer, which no layer exceeds
    // in its smaller form; the slots of dropped layers are used again, so the
    // file grows to the most layers kept in it at one time.
    std::unique_ptr<QTemporaryFile> file_;
    bool fileFailed_ = false;
    cv::Size size_;
    size_t slotBytes_ = 0;
    size_t slots_ = 0;
    std::vector<size_t> freeSlots_;
    Layer readLayer_; // the layer last read back
};
