#pragma once
#include <QFile>
#include <QString>
#include <string>

namespace pellavo {

// Paths are bytes to the engine and text to Qt: file names go through the file system's
// encoding both ways, so a name that is not valid text still names its file.
inline std::string ToPath(const QString& path) { return QFile::encodeName(path).toStdString(); }
inline QString FromPath(const std::string& path) { return QFile::decodeName(QByteArray::fromStdString(path)); }

}  // namespace pellavo
