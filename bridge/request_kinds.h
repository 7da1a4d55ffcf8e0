// The API's data requests: one table of kinds, read by the router to choose
// a request and by the OPC worker to run it, so a kind is decided once.
#pragma once

#include <functional>
#include <mutex>
#include <string>

// One OPC operation as the worker calls it: (group, item, the kind's argument).
using BridgeOperation =
    std::function<std::string(const std::string&, const std::string&, const std::string&)>;

// The three operations the worker runs. The agent's table runs the OPC
// client's operations; tests hand fakes. An empty entry answers nothing (its
// waiter times out).
struct BridgeOperations {
  BridgeOperation read;
  BridgeOperation write;
  BridgeOperation list;
  // Held by the worker around each operation it runs (the agent's session
  // lock), or none. The bridge takes it before it lets a request go ahead, so
  // a request whose waiter gave up while the worker waited for it never
  // reaches the server.
  std::mutex* callLock = nullptr;
};

// How the API wraps an operation's answer: data ("[" or "{") or a write's "ok".
enum class AnswerEnvelope { kData, kWrite };

struct RequestKind {
  long code;                // the value of the API's parameter c
  const char* argumentKey;  // the parameter that holds the operation's third argument
  BridgeOperation BridgeOperations::*operation;
  AnswerEnvelope envelope;
  // True for a write: once its call to the server has begun it is going to
  // reach the device, so its waiter waits for the call's end (see
  // kBridgeCallGraceMs) rather than answer TimeOut for a write that happens.
  bool changesServer;
};

// Read tag values (30), write tag values (40), list the leaf names of a branch (50).
extern const RequestKind kReadKind;
extern const RequestKind kWriteKind;
extern const RequestKind kListKind;

// The kind whose code is code, or null: every other code is answered without
// the bridge.
const RequestKind* FindRequestKind(long code);

// A request on its way to the OPC worker. The bridge keeps the request's id
// beside it in its queue.
struct BridgeRequest {
  const RequestKind* kind = nullptr;  // null runs nothing: the waiter times out
  std::string group;
  std::string item;
  std::string argument;  // the value of the kind's argumentKey

  bool operator==(const BridgeRequest& other) const {
    return kind == other.kind && group == other.group && item == other.item &&
           argument == other.argument;
  }
};
