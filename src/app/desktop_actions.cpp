#include "app/desktop_actions.h"

#include <QDesktopServices>
#include <QUrl>

#include "app/qt_paths.h"

#ifndef PELLAVO_LATEST_URL
#define PELLAVO_LATEST_URL ""
#endif

namespace pellavo {

void TQtDesktopActions::OpenFolder(const std::string& folder) {
  QDesktopServices::openUrl(QUrl::fromLocalFile(FromPath(folder)));
}

void TQtDesktopActions::OpenFile(const std::string& path) {
  QDesktopServices::openUrl(QUrl::fromLocalFile(FromPath(path)));
}

void TQtDesktopActions::OpenUrl(const std::string& url) { QDesktopServices::openUrl(QUrl(QString::fromStdString(url))); }

std::string LatestVersionUrl() { return PELLAVO_LATEST_URL; }

}  // namespace pellavo
