#pragma once

#include <memory>

#include "platform/native_types.h"

// The tree image list: fixed-size images addressed by their position.
class CImageList {
  public:
    CImageList(int width, int height);
    ~CImageList();
    CImageList(const CImageList&) = delete;
    CImageList& operator=(const CImageList&) = delete;

    // Appends one image (the list keeps its own copy); returns its position, -1 on failure.
    int Add(const NativeIcon& icon);
    int GetImageCount() const;

    // The toolkit's list, for the tree that draws from it (qt/controls.cpp,
    // win32/controls.cpp).
    struct Native;
    const Native& native() const { return *native_; }

  private:
    std::unique_ptr<Native> native_;
};
