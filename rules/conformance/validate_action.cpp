#include "rules/conformance/validate_action.h"

#include <sys/stat.h>

#include <map>
#include <memory>
#include <mutex>
#include <string>

#include "rules/conformance/output.h"
#include "rules/conformance/profile.h"
#include "rules/conformance/validator.h"

namespace varnel::rules::detail {
namespace {

using conformance::Profile;

// Profiles read by earlier files of a run (and earlier runs), by path; a file changed since is
// read again.
struct CachedProfile {
  long long mtime = 0;
  long long size = 0;
  std::shared_ptr<const Profile> profile;
};

int profileFor(const std::string& path, std::shared_ptr<const Profile>& out, std::string& error) {
  if (path.empty() || path == "base") {
    out = std::shared_ptr<const Profile>(&Profile::base(), [](const Profile*) {});
    return 0;
  }
  // Files converted at once on several threads share the cache.
  static std::mutex mutex;
  static std::map<std::string, CachedProfile> cache;
  const std::lock_guard<std::mutex> lock(mutex);
  struct stat st {};
  if (::stat(path.c_str(), &st) != 0) {
    error = "cannot read profile " + path;
    return conformance::kProfileNotFound;
  }
  CachedProfile& c = cache[path];
  const long long mtime =
      static_cast<long long>(st.st_mtim.tv_sec) * 1000000000LL + st.st_mtim.tv_nsec;
  if (c.profile && c.mtime == mtime && c.size == st.st_size) {
    out = c.profile;
    return 0;
  }
  auto p = std::make_shared<Profile>();
  if (int rc = conformance::loadProfile(path, *p, error); rc < 0) {
    cache.erase(path);
    return rc;
  }
  c = {mtime, st.st_size, p};
  out = std::move(p);
  return 0;
}

}  // namespace

void validateTransactionAction(ActionContext& ctx) {
  const std::string path = ctx.expand(ctx.params[0], RecordContext{});
  std::shared_ptr<const Profile> profile;
  std::string error;
  if (profileFor(path, profile, error) < 0) {
    ctx.outcome.rows.push_back(
        ReportRow{RowKind::kError, RowCounter::kErrors, true, "Validation: " + error});
    ctx.outcome.hadErrorRow = true;
    return;
  }
  std::vector<conformance::Finding> findings;
  if (conformance::validateTransaction(ctx.file, *profile, findings) < 0) return;
  for (const conformance::Finding* f : conformance::errorsFirst(findings)) {
    const bool isError = f->severity == conformance::Severity::kError;
    ctx.outcome.rows.push_back(ReportRow{isError ? RowKind::kError : RowKind::kWarning,
                                         isError ? RowCounter::kErrors : RowCounter::kWarnings,
                                         true, "Validation: " + f->message});
    if (isError) ctx.outcome.hadErrorRow = true;
  }
}

}  // namespace varnel::rules::detail
