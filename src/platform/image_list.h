#pragma once

#include <QIcon>
#include <QSize>
#include <vector>

// The tree image list: fixed-size images addressed by their position.
class CImageList {
  public:
    CImageList(int width, int height) : size_(width, height) {}

    // Appends one image; returns its position.
    int Add(const QIcon& icon);
    int GetImageCount() const { return static_cast<int>(images_.size()); }
    // A null icon for a position without an image.
    QIcon GetIcon(int index) const;
    QSize GetImageSize() const { return size_; }

  private:
    QSize size_;
    std::vector<QIcon> images_;
};
