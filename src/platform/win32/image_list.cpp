#include "platform/win32/image_list.h"

#include "platform/win32/system_headers.h"

namespace {
constexpr int kGrowBy = 2;
}

CImageList::CImageList(int width, int height)
    : list_(ImageList_Create(width, height, ILC_COLOR32, 0, kGrowBy)) {}

CImageList::~CImageList() {
    if (list_ != nullptr) {
        ImageList_Destroy(list_);
    }
}

int CImageList::Add(HICON__* icon) {
    return list_ != nullptr && icon != nullptr ? ImageList_AddIcon(list_, icon) : -1;
}

int CImageList::GetImageCount() const {
    return list_ != nullptr ? ImageList_GetImageCount(list_) : 0;
}
