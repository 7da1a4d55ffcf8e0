// The production sampler: the process-wide session and the OPC client's read.
// Kept apart from SampleTickWith so that the tests of the tick's logic link
// without the OPC client.
#include "app/settings.h"
#include "forward/sampler.h"
#include "opc/opc_client.h"

void SampleTick() {
  static SamplerState state;
  SamplerContext context;
  context.session = opcSession;
  context.read = [](int32_t count, TextList names) { return ReadChangedItems(count, std::move(names)); };
  context.folder = SpoolFolder();
  context.showread = agentSettings.showread;
  SampleTickWith(context, &state);
}
