// Test support of the OPC client: a session over the simulation engine in a
// fresh data folder, with a console that records what the client prints.
#pragma once

#include <gtest/gtest.h>

#include <atomic>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "opc/item_set.h"
#include "opc/opc_connection.h"
#include "opc/opc_session.h"
#include "platform/env.h"
#include "sim/sim_engine.h"

// An environment whose console records every line instead of printing it,
// and whose file calls fail with a given cause on request.
class RecordingEnv : public platform::EnvWrapper {
 public:
  RecordingEnv() : EnvWrapper(platform::Env::Default()) {}
  // The cause each kind of call fails with; empty: the call goes through.
  std::string writeFailure;
  std::string copyFailure;
  std::string readFailure;

  platform::Status WriteNewFileDurably(const std::string& path,
                                       const std::string& content) override {
    if (!writeFailure.empty()) return platform::Status::Failed(writeFailure);
    return EnvWrapper::WriteNewFileDurably(path, content);
  }
  platform::Status CopyFileReplacing(const std::string& from, const std::string& to) override {
    if (!copyFailure.empty()) return platform::Status::Failed(copyFailure);
    return EnvWrapper::CopyFileReplacing(from, to);
  }
  platform::Status ReadWholeFile(const std::string& path, std::string* content) override {
    if (!readFailure.empty()) return platform::Status::Failed(readFailure);
    return EnvWrapper::ReadWholeFile(path, content);
  }
  void ConsoleWrite(const std::string& text) override { Record(text); }
  void ConsoleWriteColoured(uint16_t, const std::string& text) override { Record(text); }
  // Everything printed since the last call, then forgets it.
  std::string TakeConsole() {
    std::lock_guard<std::mutex> hold(lock_);
    std::string text;
    text.swap(console_);
    return text;
  }

 private:
  void Record(const std::string& text) {
    std::lock_guard<std::mutex> hold(lock_);
    console_ += text;
  }
  std::mutex lock_;  // guards console_: the client may print from any thread
  std::string console_;
};

// A connector over the engine itself, so the client's cases run in every build.
class EngineConnector : public opc::OpcConnector {
 public:
  explicit EngineConnector(std::string folder) { environment_.folder = std::move(folder); }
  opc::Result CreateServerList(const opc::CreationTarget&,
                               std::shared_ptr<opc::OpcServerList>* list) override {
    return sim::CreateSimServerList(environment_, list);
  }
  opc::Result CreateServer(const opc::ClassId& id, const opc::CreationTarget&,
                           std::shared_ptr<opc::OpcObject>* server) override {
    return sim::CreateSimServer(environment_, id, server);
  }
  std::string SystemMessageText(opc::Result result) override {
    return result == opc::kFail ? "Unspecified error\r\n" : "";
  }
  sim::SimEnvironment& environment() { return environment_; }

 private:
  sim::SimEnvironment environment_;
};

inline const char* const kSessionSimulation =
    "[server]\nprogid=Talvero.Simulation.1\nfail=\n\n[items]\n"
    "G.I.Small=VT_I2,static,1\n"
    "G.I.Text=VT_BSTR,static,start\n"
    "G.I.T1:a=VT_BSTR,static,none\n"
    "G.I.Flag=VT_BOOL,static,false\n"
    "G.I.Byte=VT_UI1,static,0\n"
    "G.I.AI1=VT_R8,static,1.5\n"
    "G.I.DO1=VT_R8,static,2\n"
    "G.I.AI2=VT_R8,static,3\n"
    "G.I.Quote\"d=VT_BSTR,static,say \"hi\"\n"
    "G.J.Other=VT_I4,static,9\n"
    "G.I.Fixed=VT_I4,static-ro,5\n"
    "Loose=VT_I4,static,1\n";

// kSessionSimulation with the fault switch set to fault.
inline std::string SimulationWithFault(const std::string& fault) {
  std::string text = kSessionSimulation;
  return text.replace(text.find("fail="), 5, "fail=" + fault);
}

class OpcSessionTest : public testing::Test {
 protected:
  void SetUp() override {
    static std::atomic<int> folders{0};
    base_ = (std::filesystem::temp_directory_path() /
             ("talvero-client-" + std::to_string(std::random_device{}()) + "-" +
              std::to_string(++folders)))
                .string();
    std::filesystem::create_directories(DataPath());
    Write("simulation.ini", kSessionSimulation);
    connector_.reset(new EngineConnector(DataPath().string()));
    session_.connector = connector_.get();
    session_.env = &env_;
    session_.dataFolder = DataPath().string();
    session_.settings.group = "G";
    session_.settings.item = "I";
    session_.settings.autoitems = true;
  }
  void TearDown() override {
    std::error_code ignored;
    std::filesystem::remove_all(base_, ignored);
  }
  std::filesystem::path DataPath() const { return std::filesystem::path(base_) / "data"; }
  void Write(const std::string& name, const std::string& text) {
    std::ofstream out(DataPath() / name, std::ios::binary | std::ios::trunc);
    out << text;
  }
  std::string Read(const std::string& name) {
    std::ifstream in(DataPath() / name, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
  }
  ConnectResult Connect() {
    return ConnectServer(session_, ServerTarget{}, sim::kSimServerClassId);
  }
  // Connected, the group created and tags added.
  void Connect(const std::vector<std::string>& tags) {
    ASSERT_EQ(Connect(), ConnectResult::kConnected);
    ASSERT_EQ(CreateGroup(session_, "G"), GroupResult::kCreated);
    AddItemSet(session_, "G", "I", tags);
    env_.TakeConsole();
  }

  std::string base_;
  RecordingEnv env_;
  std::unique_ptr<EngineConnector> connector_;
  OpcSession session_;
};
