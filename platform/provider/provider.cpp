// Provider reading, executing and row requests (applying updates is in
// provider_apply.cpp).
#include "platform/provider/provider.h"

#include "platform/packet/json_packet.h"
#include "platform/packet/json_params.h"
#include "platform/provider/dataset_reader.h"
#include "platform/provider/resolver.h"

namespace qz::provider {

Provider::Provider(std::string name, db::Connection& conn, std::unique_ptr<Dataset> dataset)
    : name_(std::move(name)), conn_(conn), dataset_(std::move(dataset)) {}

void Provider::checkCommandText(const std::string& commandText) const {
  if (!commandText.empty() && !allowCommandText)
    throw ProviderError(ErrorKind::StatementRefused, kCommandTextNotAllowed);
}

db::ParamList& Provider::prepareParams(const std::string& commandText,
                                       const db::ParamList& client) {
  if (commandText.empty() || dataset_->kind() != DatasetKind::Query) {
    assignParams(dataset_->params(), client);
    return dataset_->params();
  }
  // A client statement brings its own markers; a marker named like a
  // parameter of the dataset starts from that parameter.
  lastParams_.clear();
  for (const std::string& n : db::parseParamNames(commandText)) {
    db::Parameter p;
    if (const db::Parameter* d = db::findParam(dataset_->params(), n)) {
      p = *d;
    } else if (const db::Parameter* c = db::findParam(client, n)) {
      p.type = fieldTypeOf(c->value.type());  // typed by the value the client sent
    }
    p.name = n;
    lastParams_.push_back(std::move(p));
  }
  assignParams(lastParams_, client);
  return lastParams_;
}

int64_t Provider::getRecords(JsonWriter& w, const ReadRequest& req) {
  checkCommandText(req.commandText);
  db::ParamList& params = prepareParams(req.commandText, req.params);
  DatasetReader reader(conn_);
  int64_t limit = req.count < 0 ? -1 : req.count;
  auto cursor = reader.open(*dataset_, req.commandText, params);
  commandText_ = req.commandText;
  int64_t n = 0;
  w.StartObject();
  w.Key("fields");
  if (!cursor) {
    writeFields(w, std::vector<FieldDef>{});
    w.Key("rows");
    w.StartArray();
    w.EndArray();
  } else {
    writeFields(w, reader.packetFields(*dataset_, cursor->fields()));
    w.Key("rows");
    n = reader.writeRows(w, *dataset_, *cursor, limit);
  }
  w.EndObject();
  if (&params != &lastParams_) lastParams_ = params;
  return n;
}

DataPacket Provider::getRecordsPacket(const ReadRequest& req, int64_t* recsOut) {
  checkCommandText(req.commandText);
  db::ParamList& params = prepareParams(req.commandText, req.params);
  DatasetReader reader(conn_);
  int64_t limit = req.count < 0 ? -1 : req.count;
  auto cursor = reader.open(*dataset_, req.commandText, params);
  commandText_ = req.commandText;
  DataPacket p;
  if (cursor) {
    p.fields = reader.packetFields(*dataset_, cursor->fields());
    p.rows = reader.readRows(*dataset_, *cursor, limit);
  }
  if (&params != &lastParams_) lastParams_ = params;
  if (recsOut) *recsOut = static_cast<int64_t>(p.rows.size());
  return p;
}

int64_t Provider::execute(const std::string& commandText, const db::ParamList& client) {
  checkCommandText(commandText);
  db::ParamList& params = prepareParams(commandText, client);
  DatasetReader reader(conn_);
  int64_t n = reader.execute(*dataset_, commandText, params);
  if (&params != &lastParams_) lastParams_ = params;
  return n;
}

DataPacket Provider::rowRequest(const DataPacket& in, int requestType) {
  const bool refresh = (requestType & kFetchRecord) != 0;
  const bool details = (requestType & kFetchDetails) != 0 || !refresh;
  std::vector<FieldDef> base;
  std::vector<size_t> baseIndex;
  for (size_t i = 0; i < in.fields.size(); ++i)
    if (in.fields[i].type != FieldType::Dataset) {
      base.push_back(in.fields[i]);
      baseIndex.push_back(i);
    }
  DatasetReader reader(conn_);
  conn_.ensureOpen();
  std::string table;
  std::vector<FieldDef> columns;
  if (refresh) {
    table = targetTable(*dataset_);
    columns = conn_.tableFields(table);
  }
  DataPacket out;
  out.fields = reader.packetFields(*dataset_, base);
  for (const DataRow& r : in.rows) {
    DataRow o;
    for (size_t i : baseIndex)
      o.values.push_back(i < r.values.size() ? r.values[i] : Variant::null());
    if (refresh) {
      std::vector<size_t> selected;
      ResolverStatement st = composeRefreshStatement(table, columns, base, o.values, &selected);
      auto cursor = conn_.query(st.sql, st.params);
      if (!cursor->next()) throw ProviderError(ErrorKind::RecordChanged, kRecordChanged);
      for (size_t k = 0; k < selected.size(); ++k) o.values[selected[k]] = cursor->row()[k];
    }
    std::vector<Variant> values = o.values;
    o.values.resize(out.fields.size(), Variant::null());
    if (details)
      for (const auto& d : dataset_->details())
        o.details.push_back(reader.readDetail(*d, base, values));
    else
      o.details.resize(dataset_->details().size());
    out.rows.push_back(std::move(o));
  }
  return out;
}

}  // namespace qz::provider
