#include "capture/engine/Crossbar.h"

#include "capture/engine/GraphHelpers.h"

namespace kestrom::engine {

using com::ComPtr;
using namespace dshow;
using com::E_FAIL;
using com::FAILED;
using com::S_OK;
using com::SUCCEEDED;

namespace {

ComPtr<IBaseFilter> OwnerOf(IPin* pin) {
  PIN_INFO info{};
  if (!pin || FAILED(pin->QueryPinInfo(&info))) return nullptr;
  return ComPtr<IBaseFilter>::Attach(info.pFilter);
}

bool IsAudioType(long type) { return type >= 4096; }

}  // namespace

TCrossbarTree::TCrossbarTree(IPin* startPin) : start_(startPin) {
  root_ = NewNode();
  if (start_) BuildRoutes(start_.Get(), root_, 0);
}

TRouting* TCrossbarTree::NewNode() {
  nodes_.push_back(std::make_unique<TRouting>());
  return nodes_.back().get();
}

TCrossbarTree::Result TCrossbarTree::BuildRoutes(IPin* pin, TRouting* node, int depth) {
  ComPtr<IPin> upstream;
  if (FAILED(pin->ConnectedTo(upstream.Put())) || !upstream) return depth > 0 ? End : Failed;
  PIN_DIRECTION direction = PINDIR_INPUT;
  ComPtr<IBaseFilter> filter = OwnerOf(upstream.Get());
  ComPtr<IAMCrossbar> crossbar;
  if (FAILED(upstream->QueryDirection(&direction)) || direction != PINDIR_OUTPUT || !filter ||
      FAILED(filter->QueryInterface(IID_IAMCrossbar, crossbar.PutVoid())) || !crossbar)
    return depth > 0 ? End : Failed;
  LONG outputs = 0, inputs = 0;
  if (FAILED(crossbar->get_PinCounts(&outputs, &inputs))) return depth > 0 ? End : Failed;
  const std::vector<ComPtr<IPin>> pins = PinsOf(filter.Get());
  long outputIndex = -1;
  for (size_t i = 0; i < pins.size(); ++i)
    if (pins[i].Get() == upstream.Get()) outputIndex = static_cast<long>(i) - inputs;
  LONG outputRelated = -1, outputType = 0;
  if (outputIndex < 0 || FAILED(crossbar->get_CrossbarPinInfo(0, outputIndex, &outputRelated, &outputType)))
    return depth > 0 ? End : Failed;
  Result result = Failed;
  for (LONG input = 0; input < inputs; ++input) {
    LONG related = -1, type = 0;
    if (FAILED(crossbar->get_CrossbarPinInfo(1, input, &related, &type)) || IsAudioType(type)) continue;
    if (crossbar->CanRoute(outputIndex, input) != S_OK) continue;
    TRouting* upper = NewNode();
    upper->downstream = node;
    node->upstream = upper;
    node->crossbar = crossbar;
    node->inputIndex = input;
    node->outputIndex = outputIndex;
    node->relatedInput = related;
    node->relatedOutput = outputRelated;
    node->inputType = type;
    node->outputType = outputType;
    node->depth = depth;
    if (static_cast<size_t>(input) >= pins.size()) continue;
    if (BuildRoutes(pins[static_cast<size_t>(input)].Get(), upper, depth + 1) == End) {
      node->upstream = nullptr;
      SaveRoute(node);
    }
    result = Found;
  }
  return result;
}

void TCrossbarTree::SaveRoute(TRouting* node) {
  // The search reuses its nodes for the next input: the route keeps copies of them.
  TRouting* previous = nullptr;
  const int count = node->depth + 1;
  for (int i = 0; i < count && node; ++i, node = node->downstream) {
    TRouting* copy = NewNode();
    *copy = *node;
    copy->upstream = previous;
    copy->downstream = nullptr;
    if (previous) previous->downstream = copy;
    routes_.push_back(copy);
    previous = copy;
  }
}

HRESULT TCrossbarTree::RouteTo(int position) {
  if (position < 0 || position >= static_cast<int>(routes_.size())) return E_FAIL;
  current_ = position;
  const int count = routes_[static_cast<size_t>(position)]->depth + 1;
  bool related = false;
  for (int i = 0; i < count && position + i < static_cast<int>(routes_.size()); ++i) {
    const TRouting* node = routes_[static_cast<size_t>(position + i)];
    if (!node->crossbar) continue;
    if (FAILED(node->crossbar->Route(node->outputIndex, node->inputIndex))) continue;
    if (node->relatedInput != -1 && node->relatedOutput != -1 &&
        SUCCEEDED(node->crossbar->Route(node->relatedOutput, node->relatedInput)))
      related = true;
  }
  return related ? S_OK : E_FAIL;
}

HRESULT TCrossbarTree::RouteCurrentInput(IAMCrossbar* crossbar) {
  LONG input = -1, related = -1, type = 0;
  if (!crossbar || FAILED(crossbar->get_IsRoutedTo(0, &input)) || input < 0 ||
      FAILED(crossbar->get_CrossbarPinInfo(1, input, &related, &type)))
    return E_FAIL;
  for (size_t i = 0; i < routes_.size(); i += static_cast<size_t>(routes_[i]->depth) + 1)
    if (routes_[i]->inputType == type) return RouteTo(static_cast<int>(i));
  return E_FAIL;
}

void TCrossbar::Clear() {
  crossbar_.Reset();
  inputCount_ = outputCount_ = 0;
  inputs_.clear();
  outputs_.clear();
}

void TCrossbar::Assign(IAMCrossbar* crossbar) {
  Clear();
  crossbar_ = crossbar;
  if (!crossbar) return;
  LONG outputs = 0, inputs = 0;
  if (FAILED(crossbar->get_PinCounts(&outputs, &inputs))) return;
  outputCount_ = outputs;
  inputCount_ = inputs;
  for (LONG i = 0; i < inputs; ++i) {
    LONG related = -1, type = 0;
    crossbar->get_CrossbarPinInfo(1, i, &related, &type);
    inputs_.push_back({ConnectorName(type), related});
  }
  for (LONG i = 0; i < outputs; ++i) {
    LONG related = -1, type = 0;
    crossbar->get_CrossbarPinInfo(0, i, &related, &type);
    outputs_.push_back({ConnectorName(type), 0});
  }
  for (LONG i = 0; i < outputs; ++i) {
    LONG routed = -1;
    if (FAILED(crossbar->get_IsRoutedTo(i, &routed))) routed = -1;
    outputs_[static_cast<size_t>(i)].value = static_cast<long>(static_cast<uint32_t>(routed) << 16 |
                                                               (routed < 0 ? 0xFFFFu : 0u));
  }
}

QString ConnectorName(long type) {
  static const char* const kVideo[] = {"Tuner", "Composite", "SVideo", "RGB", "YRYBY", "Serial Digital",
                                       "Parallel Digital", "SCSI", "AUX", "1394", "USB", "Video Decoder",
                                       "Video Encoder", "SCART", "black"};
  static const char* const kAudio[] = {"Audio Tuner", "Audio Line", "Audio Mic", "Audio AES Digital",
                                       "Audio SPDIF Digital", "Audio SCSI", "Audio AUX", "Audio 1394",
                                       "Audio USB", "Audio Decoder"};
  if (type >= 1 && type <= 15) return QString::fromLatin1(kVideo[type - 1]);
  if (type >= 4096 && type <= 4105) return QString::fromLatin1(kAudio[type - 4096]);
  return {};
}

QString RoutingToText(IAMCrossbar* crossbar) {
  LONG outputs = 0, inputs = 0;
  if (!crossbar || FAILED(crossbar->get_PinCounts(&outputs, &inputs))) return {};
  QString text = QString::number(outputs) + QLatin1Char('!');
  for (LONG i = 0; i < outputs; ++i) {
    LONG routed = -1;
    if (FAILED(crossbar->get_IsRoutedTo(i, &routed))) routed = -1;
    text += QString::number(routed) + QLatin1Char('!');
  }
  return text;
}

bool RoutingFromText(IAMCrossbar* crossbar, const QString& text) {
  LONG outputs = 0, inputs = 0;
  if (!crossbar || FAILED(crossbar->get_PinCounts(&outputs, &inputs))) return false;
  QStringList parts = text.split(QLatin1Char('!'));
  if (parts.size() < 2 || !parts.last().isEmpty()) return false;
  parts.removeLast();
  std::vector<long> numbers;
  for (const QString& part : parts) {
    bool ok = false;
    const long n = part.trimmed().toLong(&ok);
    if (!ok) return false;
    numbers.push_back(n);
  }
  if (numbers[0] != outputs || static_cast<long>(numbers.size()) != outputs + 1) return false;
  for (LONG i = 0; i < outputs; ++i) crossbar->Route(i, numbers[static_cast<size_t>(i) + 1]);
  return true;
}

std::vector<TVideoInput> VideoInputNames(IAMCrossbar* crossbar) {
  std::vector<TVideoInput> names;
  LONG outputs = 0, inputs = 0;
  if (!crossbar || FAILED(crossbar->get_PinCounts(&outputs, &inputs))) return names;
  for (LONG i = 0; i < inputs; ++i) {
    LONG related = -1, type = 0;
    if (FAILED(crossbar->get_CrossbarPinInfo(1, i, &related, &type)) || IsAudioType(type)) continue;
    int earlier = 0;
    for (const TVideoInput& seen : names) earlier += seen.type == type;
    QString name = ConnectorName(type);
    if (earlier > 0) name += QLatin1Char(' ') + QString::number(earlier);
    names.push_back({name, type, i});
  }
  return names;
}

}  // namespace kestrom::engine
