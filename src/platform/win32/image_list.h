#pragma once

// The tree image list on Windows: a system image list of fixed-size 32-bit images, addressed
// by their position. (image_list.h is the Qt one.)

struct _IMAGELIST;
struct HICON__;

class CImageList {
  public:
    // ILC_COLOR32, initially empty, growing by two.
    CImageList(int width, int height);
    ~CImageList();
    CImageList(const CImageList&) = delete;
    CImageList& operator=(const CImageList&) = delete;

    // Appends one image (the list keeps its own copy); returns its position, -1 on failure.
    int Add(HICON__* icon);
    int GetImageCount() const;
    _IMAGELIST* Handle() const { return list_; }

  private:
    _IMAGELIST* list_ = nullptr;
};
