#include "platform/image_list.h"

int CImageList::Add(const QIcon& icon) {
    images_.push_back(icon);
    return GetImageCount() - 1;
}

QIcon CImageList::GetIcon(int index) const {
    if (index < 0 || index >= GetImageCount()) {
        return {};
    }
    return images_[static_cast<std::size_t>(index)];
}
