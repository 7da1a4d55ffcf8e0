#include "bridge/request_kinds.h"

const RequestKind kReadKind{30, "tags", &BridgeOperations::read, AnswerEnvelope::kData};
const RequestKind kWriteKind{40, "tagkvs", &BridgeOperations::write, AnswerEnvelope::kWrite};
const RequestKind kListKind{50, "filters", &BridgeOperations::list, AnswerEnvelope::kData};

const RequestKind* FindRequestKind(long code) {
  for (const RequestKind* kind : {&kReadKind, &kWriteKind, &kListKind}) {
    if (kind->code == code) return kind;
  }
  return nullptr;
}
