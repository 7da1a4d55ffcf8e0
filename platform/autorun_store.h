// Where the agent keeps its autorun state: the agent's own value store and
// the entry that starts the agent when the operator logs on.
//
// Windows: the values live under HKEY_CURRENT_USER\Software\talvero\TALVERO
// AGENT; the start entry is the value "TALVERO AGENT" of the Run key under
// HKEY_LOCAL_MACHINE (machine scope) or HKEY_CURRENT_USER (user scope).
// POSIX: each value is a file $XDG_CONFIG_HOME/talvero/TALVERO AGENT/<name>
// (XDG_CONFIG_HOME defaults to ~/.config); the user-scope start entry is the
// XDG autostart file $XDG_CONFIG_HOME/autostart/TALVERO AGENT.desktop, and
// there is no machine scope (writing it fails, deleting it succeeds).
//
// The store keeps no state between calls; every call opens and closes what it
// touches, so calls are safe from any thread (two writers of one value race
// as two registry writes would: the last one stays). Failures are reported by
// the return value only.
#pragma once

#include <string>

namespace platform {

enum class RunScope { kMachine, kUser };

class AutorunStore {
 public:
  virtual ~AutorunStore() = default;

  // Stores text as the value name (creating the key or folder as needed).
  virtual bool WriteAgentValue(const std::string& name, const std::string& text) = 0;

  // The stored text of name. False (text cleared) when the key, folder or
  // value cannot be read, or the value is longer than 254 characters.
  virtual bool ReadAgentValue(const std::string& name, std::string* text) = 0;

  // Makes program followed by arguments (" -h") the start entry of scope,
  // with program in double quotes, so that a blank in its path never lets the
  // system start a different program (C:\Program Files\... would otherwise
  // run C:\Program.exe if there were one). False when it could not be written.
  virtual bool WriteRunEntry(RunScope scope, const std::string& program,
                             const std::string& arguments) = 0;

  // The program and arguments of the start entry of scope, read from the
  // quoted form above or from the unquoted form earlier versions wrote
  // (program and arguments joined by a blank). False (both cleared) when
  // there is no entry or it cannot be read.
  virtual bool ReadRunEntry(RunScope scope, std::string* program, std::string* arguments) = 0;

  // Removes the start entry of scope. True when none is left afterwards.
  virtual bool DeleteRunEntry(RunScope scope) = 0;
};

// The store of the running system; lives for the life of the process.
AutorunStore& SystemAutorunStore();

}  // namespace platform
