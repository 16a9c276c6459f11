// The backup media format on its own: the cryptographic building blocks
// against their published test vectors, sets written and read back,
// appending and overwriting, passwords, damage found by the checksum, and
// page differentials.
#include "platform/db/backup_media.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "platform/db/backup_crypto.h"
#include "platform/db/connection.h"
#include "tests/server/temp_dir.h"

namespace qz::db {
namespace {

std::string hex(const crypto::Digest& d) { return crypto::toHex(d.data(), d.size()); }
std::string sha(const std::string& s) { return hex(crypto::sha256(s.data(), s.size())); }

TEST(BackupCryptoTest, Sha256MatchesPublishedVectorsAcrossBlockBoundaries) {
  EXPECT_EQ(sha(""), "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855");
  EXPECT_EQ(sha("abc"), "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad");
  EXPECT_EQ(sha("abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq"),
            "248d6a61d20638b8e5c026930c3e6039a33ce45964ff2167f6ecedd419db06c1");
  // One million 'a', fed in uneven pieces.
  crypto::Sha256 s;
  const std::string chunk(997, 'a');
  size_t left = 1000000;
  while (left) {
    const size_t n = std::min(left, chunk.size());
    s.update(chunk.data(), n);
    left -= n;
  }
  EXPECT_EQ(hex(s.finish()), "cdc76e5c9914fb9281a1c7e284d73e67f1809a48a497200e046d39ccc7112cd0");
}

TEST(BackupCryptoTest, HmacAndPbkdf2MatchPublishedVectors) {
  const std::string data = "what do ya want for nothing?";
  EXPECT_EQ(hex(crypto::hmacSha256("Jefe", 4, data.data(), data.size())),
            "5bdcc146bf60754e6a042426089575c75a003f089d2739839dec58b964ec3843");
  // A key longer than the block is hashed first (RFC 4231 case 6).
  const std::string longKey(131, '\xaa');
  const std::string msg = "Test Using Larger Than Block-Size Key - Hash Key First";
  EXPECT_EQ(hex(crypto::hmacSha256(longKey.data(), longKey.size(), msg.data(), msg.size())),
            "60e431591ee0b67f0d8a26aacbf5b77f8e0bc6213728c5140546040f0ee37f54");
  auto pbkdf2 = [](uint32_t rounds, size_t len) {
    auto k = crypto::pbkdf2Sha256("password", "salt", 4, rounds, len);
    return crypto::toHex(k.data(), k.size());
  };
  EXPECT_EQ(pbkdf2(1, 32), "120fb6cffcf8b32c43e7225256c4f837a86548c92ccc35480805987cb70be17b");
  EXPECT_EQ(pbkdf2(2, 32), "ae4d0c95af6b46d32d0adff928f06dd02a303f8ef3c251dfd6e2d85a95474c43");
  EXPECT_EQ(pbkdf2(4096, 32), "c5e478d59288c841aa530db6845c4c8d962893a001ce4e11a4963873aa98134a");
  // More than one block: the first 32 bytes stay the same.
  EXPECT_EQ(pbkdf2(2, 40).substr(0, 64), pbkdf2(2, 32));
}

TEST(BackupCryptoTest, ChaCha20MatchesTheRfcExampleAndIsItsOwnInverse) {
  uint8_t key[32];
  for (int i = 0; i < 32; ++i) key[i] = static_cast<uint8_t>(i);
  const uint8_t nonce[12] = {0, 0, 0, 0, 0, 0, 0, 0x4a, 0, 0, 0, 0};
  const std::string plain =
      "Ladies and Gentlemen of the class of '99: If I could offer you only one tip for the "
      "future, sunscreen would be it.";
  std::vector<uint8_t> buf(plain.begin(), plain.end());
  crypto::chacha20Xor(key, nonce, 1, buf.data(), buf.size());
  EXPECT_EQ(crypto::toHex(buf.data(), buf.size()),
            "6e2e359a2568f98041ba0728dd0d6981e97e7aec1d4360c20a27afccfd9fae0bf91b65c5524733ab8f"
            "593dabcd62b3571639d624e65152ab8f530c359f0861d807ca0dbf500d6a6156a38e088a22b65e52bc"
            "514d16ccf806818ce91ab77937365af90bbf74a35be6b40b8eedf2785e42874d");
  crypto::chacha20Xor(key, nonce, 1, buf.data(), buf.size());
  EXPECT_EQ(std::string(buf.begin(), buf.end()), plain);
}

std::vector<uint8_t> bytes(const std::string& s) { return {s.begin(), s.end()}; }

media::SetInfo fullSet(const std::string& database) {
  media::SetInfo info;
  info.kind = media::SetKind::Full;
  info.database = database;
  info.device = "qz_backup";
  return info;
}

class BackupMediaTest : public ::testing::Test {
 protected:
  std::string path() const { return dir_.path() + "/media.dat"; }
  void flipByte(uint64_t offset) {
    std::fstream f(path(), std::ios::in | std::ios::out | std::ios::binary);
    f.seekg(static_cast<std::streamoff>(offset));
    char c = 0;
    f.read(&c, 1);
    c ^= 0x5a;
    f.seekp(static_cast<std::streamoff>(offset));
    f.write(&c, 1);
  }
  qz::testing::TempDir dir_;
};

TEST_F(BackupMediaTest, AppendedSetsReadBackInOrderAndOverwriteStartsNewMedia) {
  media::writeSet(path(), false, fullSet("qz"), bytes("first image"), "");
  media::SetInfo second = media::writeSet(path(), false, fullSet("qz"), bytes("second"), "");
  EXPECT_EQ(second.number, 2u);
  auto sets = media::readSets(path());
  ASSERT_EQ(sets.size(), 2u);
  EXPECT_EQ(sets[0].database, "qz");
  EXPECT_EQ(sets[0].device, "qz_backup");
  EXPECT_EQ(media::readPayload(path(), sets[0], ""), bytes("first image"));
  EXPECT_EQ(media::readPayload(path(), sets[1], ""), bytes("second"));

  media::writeSet(path(), true, fullSet("qz"), bytes("third"), "");
  sets = media::readSets(path());
  ASSERT_EQ(sets.size(), 1u);
  EXPECT_EQ(sets[0].number, 1u);
  EXPECT_EQ(media::readPayload(path(), sets[0], ""), bytes("third"));
}

TEST_F(BackupMediaTest, AppendingToAFileThatIsNoMediaIsRefusedAndKeepsTheFile) {
  { std::ofstream(path()) << "somebody's spreadsheet"; }
  EXPECT_THROW(media::writeSet(path(), false, fullSet("qz"), bytes("x"), ""), DbError);
  std::ifstream in(path());
  std::string text;
  std::getline(in, text);
  EXPECT_EQ(text, "somebody's spreadsheet");
  // Overwriting it is what the operator asked for.
  media::writeSet(path(), true, fullSet("qz"), bytes("x"), "");
  EXPECT_EQ(media::readSets(path()).size(), 1u);
}

TEST_F(BackupMediaTest, PasswordProtectedSetNeedsTheRightPasswordAndHidesItsContent) {
  const std::string secret = "guest list of room 1208";
  media::writeSet(path(), false, fullSet("qz"), bytes(secret), "p'w");
  std::ifstream in(path(), std::ios::binary);
  const std::string raw((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  EXPECT_EQ(raw.find("room 1208"), std::string::npos);

  const auto sets = media::readSets(path());
  ASSERT_EQ(sets.size(), 1u);
  EXPECT_TRUE(sets[0].passwordProtected);
  try {
    media::readPayload(path(), sets[0], "");
    FAIL() << "no password accepted";
  } catch (const DbError& e) {
    EXPECT_NE(std::string(e.what()).find("protected by a password"), std::string::npos) << e.what();
  }
  try {
    media::readPayload(path(), sets[0], "pw");
    FAIL() << "wrong password accepted";
  } catch (const DbError& e) {
    EXPECT_NE(std::string(e.what()).find("not correct"), std::string::npos) << e.what();
  }
  EXPECT_EQ(media::readPayload(path(), sets[0], "p'w"), bytes(secret));
}

TEST_F(BackupMediaTest, DamageAnywhereInASetIsFoundWithAndWithoutPassword) {
  for (const char* password : {"", "secret"}) {
    media::writeSet(path(), true, fullSet("qz"), bytes(std::string(300, 'x')), password);
    const auto set = media::readSets(path()).at(0);
    // A byte of the payload, of the header (the device name), of the MAC,
    // of the media's version field and of the reserved word after it.
    for (uint64_t offset : {set.payloadOffset + 150, set.headerOffset + 40,
                            set.payloadOffset + set.payloadSize + 5, uint64_t{16}, uint64_t{20}}) {
      flipByte(offset);
      try {
        auto sets = media::readSets(path());
        media::readPayload(path(), sets.at(0), password);
        ADD_FAILURE() << "damage at " << offset << " not found (password '" << password << "')";
      } catch (const DbError& e) {
        const std::string what = e.what();
        EXPECT_TRUE(what.find("damaged") != std::string::npos ||
                    what.find("not correct") != std::string::npos)
            << what;
      }
      flipByte(offset);  // undo
    }
    EXPECT_EQ(media::readPayload(path(), media::readSets(path()).at(0), password).size(), 300u);
  }
}

TEST_F(BackupMediaTest, ACutMediaIsDamagedAndAMissingOneSaysSo) {
  media::writeSet(path(), false, fullSet("qz"), bytes(std::string(100, 'y')), "");
  std::filesystem::resize_file(path(), std::filesystem::file_size(path()) - 10);
  EXPECT_THROW(media::readSets(path()), DbError);
  try {
    media::readSets(dir_.path() + "/nothing.dat");
    FAIL();
  } catch (const DbError& e) {
    EXPECT_NE(std::string(e.what()).find("does not exist"), std::string::npos);
  }
}

TEST(BackupDifferentialTest, CarriesChangedAndNewPagesOnlyAndRebuildsTheImage) {
  const uint32_t page = 512;
  std::vector<uint8_t> base(page * 4, 1);
  std::vector<uint8_t> current = base;
  current[page * 2 + 7] = 9;    // page 3 changed
  current.resize(page * 5, 4);  // page 5 new
  const auto diff = media::makeDifferential(base, current, page);
  EXPECT_EQ(diff.size(), 12 + 2 * (4 + page));
  EXPECT_EQ(media::applyDifferential(base, diff), current);
  // A database that shrank: the image is cut to the new page count.
  std::vector<uint8_t> shrunk(base.begin(), base.begin() + page * 2);
  EXPECT_EQ(media::applyDifferential(base, media::makeDifferential(base, shrunk, page)), shrunk);
  // A malformed differential is refused, not applied halfway.
  auto bad = diff;
  bad[12] = 77;  // page number beyond the page count
  EXPECT_THROW(media::applyDifferential(base, bad), DbError);
  bad = diff;
  bad.pop_back();
  EXPECT_THROW(media::applyDifferential(base, bad), DbError);
  // A page count the carried pages cannot fill is refused before any
  // memory is taken for it (here 0x5a1a4100 pages: hundreds of gigabytes).
  bad = diff;
  bad[4] = 0x00, bad[5] = 0x41, bad[6] = 0x1a, bad[7] = 0x5a;
  EXPECT_THROW(media::applyDifferential(base, bad), DbError);
}

}  // namespace
}  // namespace qz::db
