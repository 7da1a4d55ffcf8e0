#include "bridge/request_kinds.h"

const RequestKind kReadKind{30, "tags", &BridgeOperations::read, AnswerEnvelope::kData, false};
const RequestKind kWriteKind{40, "tagkvs", &BridgeOperations::write, AnswerEnvelope::kWrite, true};
const RequestKind kListKind{50, "filters", &BridgeOperations::list, AnswerEnvelope::kData, false};

const RequestKind* FindRequestKind(long code) {
  for (const RequestKind* kind : {&kReadKind, &kWriteKind, &kListKind}) {
    if (kind->code == code) return kind;
  }
  return nullptr;
}
