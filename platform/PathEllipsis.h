#pragma once

#include <QString>

#include <functional>

// A text that names a file, shortened to `maxWidth` as the platform's path-ellipsis statics did:
// characters from the middle of the folder part (between the path's first and last '/') give way
// to "...", so the start of the text, the file name and what follows it stay readable. A text
// that fits, or has no folder part to shorten, is returned as it is. `width` measures a text.
QString ElidePathText(const QString& text, const std::function<int(const QString&)>& width, int maxWidth);
