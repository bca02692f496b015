#pragma once

#include <QIcon>
#include <QList>
#include <QPixmap>

namespace raduvuz {

// The toolbar and action images, 32 x 32, by the indices of the action list: 0 hide, 1 show,
// 2 stop, 3 start, 4 abort, 5 reprocess, 6 delete, 7 change names, 8 release, 9 priority,
// 10 hold, 11 search, 12 composed preview, 13 redirect, 14 composed job preview, 15 negative
// off, 16 negative on, 17 custom preview generation.
QList<QIcon> MakeMainImages();
inline constexpr int kMainImageCount = 18;

// The row images of the job lists, 16 x 16: 0 held, 1 transferring or sending, 2 spooling,
// 3 failed.
QList<QIcon> MakeProcessImages();
inline constexpr int kProcessImageCount = 4;

// The program's own picture (a queue of pages going out), at any size.
QPixmap DrawApplicationPicture(int size);

} // namespace raduvuz
