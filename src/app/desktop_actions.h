#pragma once
#include <string>

namespace pellavo {

// What the window asks of the desktop. Failures are not reported: a folder that does not exist,
// a missing browser or a file type without a program simply opens nothing.
class TDesktopActions {
 public:
  virtual ~TDesktopActions() = default;
  // Shows the folder in the desktop's file manager.
  virtual void OpenFolder(const std::string& folder) = 0;
  // Shows the web page in the default browser.
  virtual void OpenUrl(const std::string& url) = 0;
  // Opens the file in the program the desktop associates with its type.
  virtual void OpenFile(const std::string& path) = 0;
};

// The desktop's own services.
class TQtDesktopActions final : public TDesktopActions {
 public:
  void OpenFolder(const std::string& folder) override;
  void OpenUrl(const std::string& url) override;
  void OpenFile(const std::string& path) override;
};

// The page "Latest" opens.
std::string LatestVersionUrl();

}  // namespace pellavo
