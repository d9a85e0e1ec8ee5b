#include "tools/vdtrace/html_timeline.h"

#include <algorithm>

#include "support/trace/trace_format.h"
#include "tools/vdtrace/trace_filter.h"

namespace vdtrace {

namespace {

constexpr std::string_view kStyle = R"(
body{font:13px sans-serif;margin:8px;background:#fafafa}
#bar{position:sticky;top:0;background:#fafafa;padding:4px 0;z-index:2}
#status{font-family:monospace;white-space:pre;color:#333;min-height:1.3em}
.lane{border-top:1px solid #bbb;margin-top:6px}
.lane h2{font-size:13px;margin:2px 0}
.track{position:relative;overflow:visible}
.axis{position:relative;height:16px;border-bottom:1px solid #999}
.tick{position:absolute;top:0;font:10px monospace;border-left:1px solid #999;padding-left:2px;white-space:nowrap}
.scope{position:absolute;height:14px;background:#8ab4e8;border:1px solid #4a74a8;box-sizing:border-box;
  overflow:hidden;font:10px monospace;white-space:nowrap;cursor:pointer}
.scope.open{background:#c6d8ee;border-style:dashed}
.scope.holds-failure{border-color:#c00}
.scope.folded{background:#6a6a6a;color:#fff}
.msg{position:absolute;width:2px;height:14px;background:#7a7}
.failure{position:absolute;width:6px;height:14px;background:#d00}
.hidden{display:none}
.dim{opacity:.2}
.hit{outline:2px solid #f80}
)";

// Folding hides what a scope holds; searching dims what does not match. No trace data in here.
constexpr std::string_view kScript = R"(
(function(){
  var items=document.querySelectorAll('[data-id]');
  var kids={};
  items.forEach(function(el){var p=el.getAttribute('data-parent');(kids[p]=kids[p]||[]).push(el);});
  function setHidden(id,hide){(kids[id]||[]).forEach(function(el){
    el.classList.toggle('hidden',hide);
    if(!el.classList.contains('folded'))setHidden(el.getAttribute('data-id'),hide);});}
  document.querySelectorAll('.scope').forEach(function(el){
    el.addEventListener('click',function(){
      var fold=!el.classList.contains('folded');
      el.classList.toggle('folded',fold);
      setHidden(el.getAttribute('data-id'),fold);});});
  var span=parseInt(document.body.getAttribute('data-span'),10)||0;
  var byTime=document.getElementById('bytime');
  function place(){
    var t=byTime.checked, scale=Math.min(1,20000/Math.max(span,1));
    document.querySelectorAll('[data-t0]').forEach(function(el){
      if(!el.hasAttribute('data-left'))el.setAttribute('data-left',el.style.left);
      if(!el.hasAttribute('data-width'))el.setAttribute('data-width',el.style.width);
      var t0=parseInt(el.getAttribute('data-t0'),10),t1=parseInt(el.getAttribute('data-t1')||t0,10);
      el.style.left=t?(t0*scale)+'px':el.getAttribute('data-left');
      if(el.classList.contains('scope'))
        el.style.width=t?Math.max(2,(t1-t0)*scale)+'px':el.getAttribute('data-width');});}
  byTime.addEventListener('change',place);
  if(location.hash==='#time'){byTime.checked=true;place();}
  var status=document.getElementById('status');
  items.forEach(function(el){el.addEventListener('mouseenter',function(){
    status.textContent=el.getAttribute('title');});});
  document.getElementById('search').addEventListener('input',function(ev){
    var q=ev.target.value.toLowerCase();
    items.forEach(function(el){
      var hit=q!==''&&el.getAttribute('title').toLowerCase().indexOf(q)>=0;
      el.classList.toggle('hit',hit);
      el.classList.toggle('dim',q!==''&&!hit);});});
})();
)";

}  // namespace

std::string HtmlEscape(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  for (char c : text) {
    switch (c) {
      case '&': out += "&amp;"; break;
      case '<': out += "&lt;"; break;
      case '>': out += "&gt;"; break;
      case '"': out += "&quot;"; break;
      case '\'': out += "&#39;"; break;
      default: out += c;
    }
  }
  return out;
}

void CHtmlTimeline::OnEvent(const TraceEvent& e) {
  if (e.type == VDTraceNS::kContinued) {
    for (auto& [thread, lane] : m_lanes) lane.stack.clear();
  }
  if (e.IsStamp()) return;
  const std::size_t pos = m_pos++;
  if (e.key) {
    if (!m_firstKey) m_firstKey = e.key;
    // A clock set back keeps the last time rather than going backwards on the page.
    m_t = std::max(m_t, *e.key - *m_firstKey);
  }
  if (e.time != m_lastTime) {
    m_lastTime = std::string(e.time);
    if (m_ticks.empty() || pos * kStep >= m_ticks.back().pos * kStep + 90)
      m_ticks.push_back({pos, m_t, std::string(e.date) + " " + m_lastTime});
  }
  Lane& lane = m_lanes[e.thread];
  const std::string text = VDTraceNS::PrintableText(e.text);
  const std::string at = std::string(e.date) + " " + std::string(e.time);
  if (e.type == VDTraceNS::kScopeExit) {
    if (lane.stack.empty()) return;
    Item& scope = lane.items[lane.stack.back()];
    scope.last = pos;
    scope.t1 = m_t;
    scope.open = false;
    scope.title += " .. " + std::string(e.time);
    lane.stack.pop_back();
    return;
  }
  Item item;
  item.id = m_nextId++;
  item.parent = lane.stack.empty() ? 0 : lane.items[lane.stack.back()].id;
  item.first = item.last = pos;
  item.t0 = item.t1 = m_t;
  item.depth = static_cast<int>(lane.stack.size());
  item.type = e.type;
  item.text = text;
  item.title = at + " " + std::string(1, e.type) + " " + text;
  item.failure = IsFailure(e);
  if (item.failure)
    for (std::size_t i : lane.stack) lane.items[i].holdsFailure = true;
  lane.depth = std::max(lane.depth, item.depth);
  if (e.type == VDTraceNS::kScopeEnter) {
    item.open = true;
    lane.stack.push_back(lane.items.size());
  }
  lane.items.push_back(std::move(item));
}

void CHtmlTimeline::Write(std::ostream& out) const {
  const std::size_t width = (m_pos + 1) * kStep + 200;
  out << "<!DOCTYPE html>\n<html><head><meta charset=\"utf-8\">\n"
         "<meta http-equiv=\"Content-Security-Policy\" content=\"default-src 'none'; "
         "style-src 'unsafe-inline'; script-src 'unsafe-inline'\">\n"
         "<title>vdtrace timeline</title>\n<style>"
      << kStyle << "</style></head>\n<body data-span=\"" << m_t
      << "\">\n<div id=\"bar\"><input id=\"search\" type=\"search\" "
         "placeholder=\"search the records\" size=\"40\"> click a scope to fold it; "
         "<label><input id=\"bytime\" type=\"checkbox\"> time axis</label>\n"
         "<div id=\"status\"></div></div>\n<pre id=\"header\">";
  for (const std::string& line : m_header) out << HtmlEscape(line) << "\n";
  out << "</pre>\n<div class=\"axis\" style=\"width:" << width << "px\">";
  for (const Tick& t : m_ticks)
    out << "<span class=\"tick\" data-t0=\"" << t.t << "\" style=\"left:" << t.pos * kStep
        << "px\">" << HtmlEscape(t.time) << "</span>";
  out << "</div>\n";
  for (const auto& [thread, lane] : m_lanes) {
    out << "<div class=\"lane\" data-thread=\"" << thread << "\"><h2>thread " << thread
        << "</h2>\n<div class=\"track\" style=\"width:" << width
        << "px;height:" << (lane.depth + 1) * kRow << "px\">\n";
    for (const Item& it : lane.items) {
      std::string cls;
      std::size_t w = kStep;
      if (it.type == VDTraceNS::kScopeEnter) {
        cls = "scope";
        if (it.open) cls += " open";
        if (it.holdsFailure) cls += " holds-failure";
        w = (it.last - it.first + 1) * kStep;
      } else {
        cls = it.failure ? "failure" : "msg";
      }
      out << "<div class=\"" << cls << "\" data-id=\"" << it.id << "\" data-parent=\"" << it.parent
          << "\" data-t0=\"" << it.t0 << "\" data-t1=\"" << it.t1
          << "\" style=\"left:" << it.first * kStep << "px;top:" << it.depth * kRow << "px";
      if (it.type == VDTraceNS::kScopeEnter) out << ";width:" << w << "px";
      out << "\" title=\"" << HtmlEscape(it.title) << "\">";
      if (it.type == VDTraceNS::kScopeEnter) out << HtmlEscape(it.text);
      out << "</div>\n";
    }
    out << "</div></div>\n";
  }
  out << "<script>" << kScript << "</script>\n</body></html>\n";
}

}  // namespace vdtrace
