// Dataset construction and detail links.
#include "platform/provider/dataset.h"

#include "platform/db/connection_string.h"

namespace qz::provider {

std::unique_ptr<Dataset> Dataset::makeQuery(std::string name, std::vector<std::string> lines,
                                            db::ParamList params) {
  std::unique_ptr<Dataset> d(new Dataset(std::move(name), DatasetKind::Query));
  d->lines_ = std::move(lines);
  d->params_ = std::move(params);
  return d;
}

std::unique_ptr<Dataset> Dataset::makeTable(std::string name, std::string table) {
  std::unique_ptr<Dataset> d(new Dataset(std::move(name), DatasetKind::Table));
  d->object_ = std::move(table);
  return d;
}

std::unique_ptr<Dataset> Dataset::makeStoredProc(std::string name, std::string procedure,
                                                 db::ParamList params) {
  std::unique_ptr<Dataset> d(new Dataset(std::move(name), DatasetKind::StoredProc));
  d->object_ = std::move(procedure);
  d->params_ = std::move(params);
  return d;
}

std::string Dataset::sqlText() const {
  std::string out;
  for (size_t i = 0; i < lines_.size(); ++i) {
    if (i) out += "\r\n";
    out += lines_[i];
  }
  return out;
}

Dataset& Dataset::addDetail(std::unique_ptr<Dataset> detail) {
  detail->master_ = this;
  details_.push_back(std::move(detail));
  return *details_.back();
}

Dataset* Dataset::findDetail(std::string_view name) const {
  for (const auto& d : details_)
    if (EqualsNoCase(d->name(), name)) return d.get();
  return nullptr;
}

}  // namespace qz::provider
