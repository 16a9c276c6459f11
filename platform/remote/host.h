// Host: serves remote objects over TCP, one instance per connection.
//
// Clients speak JSON-RPC 2.0, one JSON document per line (see
// docs/protocol.md). A connection first sends "create" naming a hosted
// class; the host takes the request in on the window thread (through the
// UiDispatcher, so creations wait while that thread is busy), starts a
// module thread for the new instance and runs the class's factory there.
// Every later call of that connection runs on the instance's module thread,
// one after the other in arrival order, and the answers go back in the same
// order even when the client sends requests before earlier answers arrive.
// "release" or closing the connection ends the instance: the module thread
// calls RemoteObject::release() (which rolls back an open transaction),
// destroys the object and ends.
//
// Transport threads (Asio) only read, frame, parse and write; they never run
// an object's code and never wait for the window thread.
//
// Who may connect (see transport_settings.h): a connection from an address
// outside the allow-list is closed as soon as it is accepted; beyond
// maxConnections a connection gets one error answer (kServerBusy) and is
// closed; with TLS every connection first completes a handshake (and shows
// a client certificate when a client authority is set), and one that fails
// it is closed. Each of these, every connection's peer, every creation and
// release, every failed call and every slow one goes to the server log.
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "platform/remote/remote_object.h"
#include "platform/remote/transport_settings.h"

namespace qz::remote {

// One class that clients may create.
struct HostedClass {
  std::string name;           // "top_dm2"
  std::string progId;         // "QzServer.top_dm2"
  std::string clsid;          // "{A6F60FA4-...}" with braces
  std::string interfaceName;  // "Itop_dm2"
  std::string iid;            // "{EA5546B8-...}" with braces
  ObjectFactory factory;
  // Whether the class may be served on the socket transport; asked at each
  // creation (its registration may change while the server runs). Empty
  // means always.
  std::function<bool()> socketsEnabled;
  // The same for the web transport.
  std::function<bool()> webEnabled;
};

struct HostOptions {
  std::vector<HostedClass> classes;
  // Addresses to listen on, "HOST:PORT" ("[::1]:5211" for IPv6). Port 0
  // picks a free port; ports() tells which.
  std::vector<std::string> listen;
  // Listening sockets opened by someone else (socket activation). The host
  // takes ownership and closes them at stop().
  std::vector<int> listenFds;
  // The web transport: addresses for HTTP and WebSocket ("HOST:PORT"; none:
  // off), the origins a browser page may connect from (empty: any; a
  // request without an Origin header, from a program, is always let in),
  // and the folder of the static files served at "/" (empty: none).
  std::vector<std::string> listenWeb;
  std::vector<std::string> webOrigins;
  std::string webRoot;
  // Longest message accepted, in bytes (line feed not counted).
  size_t maxMessage = 64u * 1024 * 1024;
  // TLS, allowed addresses and connection limits.
  TransportSettings transport;
  // A call that runs at least this long is logged as slow; 0 = never.
  std::chrono::milliseconds slowRequest{1000};
  // Bytes of answers a connection may hold that its client has not taken
  // yet (composed, or being written) before its next call waits; reading
  // from it pauses too. The total is across all connections; a connection
  // holding nothing may always go on.
  size_t answerBytesPerConnection = 16u * 1024 * 1024;
  size_t answerBytesTotal = 256u * 1024 * 1024;
  // Stack reserved for each module thread.
  size_t moduleStackSize = 512u * 1024;
  // Threads doing socket I/O. One is enough: the work of a request runs on
  // its module thread, and a second I/O thread on the same event queue
  // costs every request extra wake-ups (measured: 12 futex calls per
  // posted bill with two, 5 with one).
  int ioThreads = 1;
  // Called when the last instance ends and no creation is under way, and
  // when a creation fails while no instance exists (not during stop()).
  // Runs on a host thread (a module thread or the creation worker): it must
  // not call stop() itself; post the shutdown to another thread. May in rare
  // races be called twice for one idle moment; make it idempotent.
  std::function<void()> onLastInstanceReleased;
};

// Thread-safety: start() and stop() from one controlling thread;
// instanceCount() and ports() from any thread.
class Host {
 public:
  // dispatcher must outlive the Host; it runs every creation request.
  Host(HostOptions options, UiDispatcher& dispatcher);
  // Calls stop().
  ~Host();

  Host(const Host&) = delete;
  Host& operator=(const Host&) = delete;

  // Opens the listening sockets and starts serving. Throws
  // std::runtime_error naming the address when one cannot be opened, or the
  // file when the TLS settings cannot be used (then nothing is left
  // listening). REQUIRES: called once.
  void start();

  // Stops accepting, drops requests not yet started, lets calls in flight
  // finish, releases every instance (rolling back open transactions), closes
  // all connections and joins every thread. Idempotent.
  // REQUIRES: if called on the dispatcher's thread, the dispatcher must by
  // then refuse invoke() (EventLoopDispatcher does once it has quit), or a
  // creation or login waiting for it would never end.
  void stop();

  // Instances that exist now.
  size_t instanceCount() const;

  // The local ports of the listening sockets, in the order of
  // options.listen followed by options.listenFds. Valid after start().
  std::vector<uint16_t> ports() const;
  // The same for options.listenWeb.
  std::vector<uint16_t> webPorts() const;

  // Bytes of answers held for clients that have not taken them yet, across
  // all connections (see answerBytesPerConnection).
  size_t answerBytesHeld() const;

 private:
  class Impl;
  std::unique_ptr<Impl> impl_;
};

// The class that clsOrName names by name, ProgID or class id (braces
// optional), without regard to case; nullptr when none does.
const HostedClass* findHostedClass(const std::vector<HostedClass>& classes,
                                   std::string_view clsOrName);

}  // namespace qz::remote
