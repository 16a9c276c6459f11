// The real qzserver binary with its window on the offscreen platform:
// client logins from several connections go through the window thread
// and are answered, and SIGTERM ends the process cleanly while an instance
// is alive.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/types.h>
#include <unistd.h>

#include <QDir>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>

namespace {

QString ServerBinary() {
  return QDir(QCoreApplication::applicationDirPath()).filePath("../server/qzserver");
}

// A connected TCP client with line-based reads (plain POSIX sockets).
class Client {
 public:
  explicit Client(quint16 port) {
    fd_ = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(port);
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    connected_ = ::connect(fd_, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0;
    timeval tv{10, 0};
    ::setsockopt(fd_, SOL_SOCKET, SO_RCVTIMEO, &tv, sizeof tv);
  }
  ~Client() { ::close(fd_); }
  Client(const Client&) = delete;
  Client& operator=(const Client&) = delete;
  bool connected() const { return connected_; }

  // One JSON-RPC call; returns the answer object (empty on a timeout).
  QJsonObject call(int id, const QString& method, const QJsonObject& params) {
    QJsonObject req{{"jsonrpc", "2.0"}, {"id", id}, {"method", method}, {"params", params}};
    const QByteArray out = QJsonDocument(req).toJson(QJsonDocument::Compact) + "\n";
    if (::send(fd_, out.constData(), out.size(), MSG_NOSIGNAL) != out.size()) return {};
    int nl;
    while ((nl = buf_.indexOf('\n')) < 0) {
      char tmp[4096];
      const ssize_t n = ::recv(fd_, tmp, sizeof tmp, 0);
      if (n <= 0) return {};
      buf_.append(tmp, n);
    }
    const QByteArray line = buf_.left(nl);
    buf_.remove(0, nl + 1);
    return QJsonDocument::fromJson(line).object();
  }

 private:
  int fd_;
  bool connected_ = false;
  QByteArray buf_;
};

quint16 FreePort() {
  const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  ::bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a);
  socklen_t len = sizeof a;
  ::getsockname(fd, reinterpret_cast<sockaddr*>(&a), &len);
  ::close(fd);
  return ntohs(a.sin_port);
}

}  // namespace

class WindowProcessTest : public QObject {
  Q_OBJECT
 private slots:
  void initTestCase();
  void loginsAreAnsweredThroughTheWindowThread();
  void sigtermEndsTheProcessCleanly();
  void cleanupTestCase();

 private:
  void start();
  QTemporaryDir app_;
  QProcess server_;
  quint16 port_ = 0;
};

void WindowProcessTest::initTestCase() {
  QVERIFY2(QFileInfo::exists(ServerBinary()), qPrintable(ServerBinary()));
  QProcess create;
  create.start(ServerBinary(),
               {"--app-dir", app_.path(), "--create-database", "--demo-rows", "10"});
  QVERIFY(create.waitForFinished(60000));
  QCOMPARE(create.exitCode(), 0);
}

void WindowProcessTest::start() {
  port_ = FreePort();
  QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
  env.insert("QT_QPA_PLATFORM", "offscreen");
  server_.setProcessEnvironment(env);
  server_.setProcessChannelMode(QProcess::MergedChannels);
  server_.start(ServerBinary(),
                {"--app-dir", app_.path(), "--listen", QString("127.0.0.1:%1").arg(port_)});
  QVERIFY(server_.waitForStarted());
  // Ready once it accepts connections.
  for (int i = 0; i < 200; ++i) {
    if (Client(port_).connected()) return;
    QTest::qWait(50);
  }
  QFAIL("server did not start listening");
}

void WindowProcessTest::loginsAreAnsweredThroughTheWindowThread() {
  start();
  // Several clients, each with its own instance, log in at once.
  std::vector<std::unique_ptr<Client>> clients;
  for (int c = 0; c < 3; ++c) {
    auto s = std::make_unique<Client>(port_);
    QVERIFY(s->connected());
    const QJsonObject created = s->call(1, "create", {{"class", "top_dm2"}});
    QVERIFY2(created.contains("result"), QJsonDocument(created).toJson().constData());
    clients.push_back(std::move(s));
  }
  for (int round = 0; round < 50; ++round)
    for (size_t c = 0; c < clients.size(); ++c) {
      const QJsonObject r = clients[c]->call(2 + round, "login",
                                             {{"operator", QString("op%1").arg(c)},
                                              {"station", "前台"},
                                              {"work", QString("第%1次").arg(round)}});
      QVERIFY2(r.value("result").toObject().value("hresult").toInt(-1) == 0,
               QJsonDocument(r).toJson().constData());
    }
  clients.clear();
}

void WindowProcessTest::sigtermEndsTheProcessCleanly() {
  if (server_.state() != QProcess::Running) start();
  Client s(port_);
  QVERIFY(s.connected());
  QVERIFY(s.call(1, "create", {{"class", "top_dm1"}}).contains("result"));
  // An instance is alive: the signal still ends the process, without a
  // question on screen.
  ::kill(static_cast<pid_t>(server_.processId()), SIGTERM);
  QVERIFY2(server_.waitForFinished(15000), server_.readAll().constData());
  QCOMPARE(server_.exitStatus(), QProcess::NormalExit);
  QCOMPARE(server_.exitCode(), 0);
}

void WindowProcessTest::cleanupTestCase() {
  if (server_.state() == QProcess::Running) {
    server_.kill();
    server_.waitForFinished(5000);
  }
}

QTEST_MAIN(WindowProcessTest)
#include "tst_window_process.moc"
