#include "opc/opc_session.h"

OpcSession* opcSession = nullptr;
