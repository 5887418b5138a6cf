// Benchmarks of the XML reader: loading a typical member-card request and a
// request of the largest size the server accepts (16 KB), then reading what a
// handler reads. Bytes processed are reported, so the figures show MB/s.
#include <benchmark/benchmark.h>

#include <string>

#include "server/XmlUnit.h"

namespace {

AnsiString MemberRequest() {
  return "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\r\n"
         "<DoorRequest type=\"WriteMemberCard\">\r\n"
         "  <RequestID>1001</RequestID>\r\n"
         "  <CardNo>00012345</CardNo>\r\n"
         "  <Extra1>" +
         Lit("张三") +
         "</Extra1>\r\n"
         "  <Extra2>2026-12-31</Extra2>\r\n"
         "  <Extra3>100</Extra3>\r\n"
         "  <Channel>1</Channel>\r\n"
         "</DoorRequest>\r\n";
}

// A request just under 16384 bytes: many children with attributes, entities
// and Chinese text.
AnsiString LargeRequest() {
  AnsiString text =
      "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\r\n<DoorRequest type=\"IssueCard\">\r\n";
  const AnsiString item = "  <Guest id=\"42\" room='0203'><Name>" + Lit("李四") +
                          " &amp; Co</Name><Note>checked in &lt;late&gt;</Note></Guest>\r\n";
  const AnsiString close = "</DoorRequest>\r\n";
  while (text.size() + item.size() + close.size() <= 16384) text += item;
  return text + close;
}

void Run(benchmark::State& state, const AnsiString& text) {
  for (auto _ : state) {
    TXmlDocument doc;
    doc.LoadFromText(text);
    TXmlNode* root = doc.RootElement();
    benchmark::DoNotOptimize(root->AttributeText("type"));
    for (int32_t i = 0; i < 6 && i < root->ChildCount(); ++i)
      benchmark::DoNotOptimize(root->ChildAt(i)->ValueText());
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) *
                          static_cast<int64_t>(text.size()));
}

void BM_LoadMemberRequest(benchmark::State& state) {
  Run(state, MemberRequest());
}
BENCHMARK(BM_LoadMemberRequest);

void BM_Load16KRequest(benchmark::State& state) {
  Run(state, LargeRequest());
}
BENCHMARK(BM_Load16KRequest);

}  // namespace
