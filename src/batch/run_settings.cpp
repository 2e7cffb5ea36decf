#include "batch/run_settings.h"

namespace pellavo {

int SizeValueOf(const TRunSettings& s) { return s.SizeMode == TSizeMode::Percent ? s.PercentSize : s.PixelSize; }

int WorkerLimitOf(const TRunSettings& s, int entry_count) {
  const int limit = s.MaxThreadsOn ? s.MaxThreads : 1;
  return limit == 0 ? entry_count : limit;
}

int ShardEntryCount(const TRunSettings& s, int entry_count) {
  return entry_count / s.ShardCount + (s.ShardIndex < entry_count % s.ShardCount ? 1 : 0);
}

std::string SubfolderNameProblem(const std::string& text) {
  if (text.empty()) return "Type a folder name for \"Into sub-folder\"";
  if (text == "." || text == ".." || text.find('/') != std::string::npos || text.find('\0') != std::string::npos)
    return "The sub-folder \"" + text + "\" must be one folder name, without \"/\", and not \".\" or \"..\"";
  return {};
}

std::string RunSettingsProblem(const TRunSettings& s) {
  if (s.SkipExisting && s.Overwrite) return "\"Skip existing\" and \"Overwrite files\" cannot both be on";
  if (s.KeepTree && s.DestFolder.empty())
    return "\"Keep folders\" mirrors the source folders into a destination: choose one with Destination";
  if (s.Subfolder) {
    if (!s.DestFolder.empty())
      return "\"Into sub-folder\" puts the outputs beside their sources: leave the destination empty";
    if (std::string problem = SubfolderNameProblem(*s.Subfolder); !problem.empty()) return problem;
  }
  if (s.MaxKb > 0) {
    if (s.FastCopy) return "\"Max KB\" cannot shrink files that FASTCOPY copies unchanged";
    if (s.OutputFormat != TOutputFormat::Source && !OutputFormatInfo(s.OutputFormat).TakesQuality) {
      std::string formats;
      for (const TOutputFormatInfo& f : kOutputFormats)
        if (f.TakesQuality) formats += std::string(formats.empty() ? "" : ", ") + std::string(f.Item);
      return "\"Max KB\" applies to " + formats + " outputs only";
    }
  }
  if (s.ShardCount < 1 || s.ShardIndex < 0 || s.ShardIndex >= s.ShardCount)
    return "The shard " + std::to_string(s.ShardIndex) + "/" + std::to_string(s.ShardCount) + " does not exist";
  return {};
}

}  // namespace pellavo
