// Keyed apply-updates requests: the digest that identifies what was asked,
// the replay of a recorded answer, and the recording of a new one.
#include "platform/db/backup_crypto.h"
#include "platform/db/request_keys.h"
#include "platform/packet/json_delta.h"
#include "platform/provider/provider.h"

namespace qz::provider {

struct Provider::KeyedRequest {
  std::string key;
  std::string digest;
  bool recorded = false;  // committed with its answer
};

namespace {

// The digest of a request: its delta as the provider read it (so that the
// same change sent with its members in another order or spacing matches),
// maxErrors and OwnerData.
std::string requestDigest(const Delta& delta, int maxErrors, const Variant& ownerData) {
  rapidjson::StringBuffer buf;
  JsonWriter w(buf);
  w.StartArray();
  writeDelta(w, delta);
  w.Int(maxErrors < 0 ? -1 : maxErrors);
  if (ownerData.isUnassigned())
    w.Null();
  else
    writeTagged(w, ownerData);
  w.EndArray();
  const db::crypto::Digest d = db::crypto::sha256(buf.GetString(), buf.GetSize());
  return db::crypto::toHex(d.data(), d.size());
}

// Gives the caller the recorded answer. Throws ProviderError when the key
// was recorded for another request.
int replay(const db::RecordedAnswer& a, const std::string& digest, std::string_view key,
           Variant& ownerData, ErrorPacket* errors) {
  if (a.digest != digest)
    throw ProviderError(ErrorKind::PostingRefused, kRequestKeyReused + std::string(key));
  if (errors) {
    rapidjson::Document doc;
    parseJson(a.errors, &doc);
    *errors = errorPacketFromValue(doc);
  }
  if (a.ownerData.empty()) {
    ownerData = Variant();
  } else {
    rapidjson::Document doc;
    parseJson(a.ownerData, &doc);
    ownerData = readTaggedValue(doc);
  }
  return a.errorCount;
}

}  // namespace

int Provider::applyUpdates(Delta& delta, int maxErrors, Variant& ownerData, ErrorPacket* errors,
                           std::string_view requestKey, bool* replayed) {
  if (replayed) *replayed = false;
  if (requestKey.empty()) return applyDelta(delta, maxErrors, ownerData, errors, nullptr);
  if (!db::requestKeyFits(requestKey))
    throw ProviderError(
        ErrorKind::BadRequest,
        "Request key longer than " + std::to_string(db::kMaxRequestKeyLength) + " characters");
  conn_.ensureOpen();
  KeyedRequest keyed{std::string(requestKey), requestDigest(delta, maxErrors, ownerData)};
  bool tableCreated = false;
  auto answerRecorded = [&]() -> std::optional<int> {
    std::optional<db::RecordedAnswer> a =
        db::findRecordedAnswer(conn_, name_, requestKey, &tableCreated);
    if (!a) return std::nullopt;
    const int n = replay(*a, keyed.digest, requestKey, ownerData, errors);
    if (replayed) *replayed = true;
    return n;
  };
  // The key is not looked up first: a request is nearly always new, and the
  // key's row, inserted in the posting transaction, refuses a repeat at the
  // commit anyway. Only a request that did not record its key (rolled back,
  // refused at the commit, or failed) asks whether it was posted before.
  int n = 0;
  for (bool again = true;; again = false) {
    // Resolving may fill in values: a second posting starts from what was sent.
    const Delta sent = again ? delta : Delta();
    const Variant ownerDataSent = ownerData;
    try {
      n = applyDelta(delta, maxErrors, ownerData, errors, &keyed);
      break;
    } catch (const db::DbError&) {
      if (conn_.inTransaction()) throw;
      if (errors) errors->errors.clear();
      if (std::optional<int> r = answerRecorded()) return *r;
      // A database made before the table existed refused the key's row, and
      // with it the rolled-back posting: it has the table now; post again.
      if (!again || !tableCreated) throw;
      delta = sent;
      ownerData = ownerDataSent;
    }
  }
  if (!keyed.recorded)
    if (std::optional<int> r = answerRecorded()) return *r;  // replaces this one's answer
  return n;
}

void Provider::recordKey(KeyedRequest& keyed, int errorCount, const ErrorPacket& errors,
                         const Variant& ownerData) {
  db::RecordedAnswer a;
  a.digest = keyed.digest;
  a.errorCount = errorCount;
  {
    rapidjson::StringBuffer buf;
    JsonWriter w(buf);
    writeErrorPacket(w, errors);
    a.errors.assign(buf.GetString(), buf.GetSize());
  }
  if (!ownerData.isUnassigned()) {
    rapidjson::StringBuffer buf;
    JsonWriter w(buf);
    writeTagged(w, ownerData);
    a.ownerData.assign(buf.GetString(), buf.GetSize());
  }
  db::recordAnswer(conn_, name_, keyed.key, a);
  keyed.recorded = true;
}

}  // namespace qz::provider
