#pragma once
// Crossbar routing: every chain of crossbar routes from a physical video input to a capture
// filter's video input (a route is one node per crossbar, from the one next to the capture
// filter upstream), applying one, one crossbar's pin lists, connector names, and the text form
// in which a crossbar's routing is saved.

#include "platform/com/ComPtr.h"
#include "platform/dshow/sources/DeviceInterfaces.h"

#include <QString>
#include <QStringList>
#include <memory>
#include <vector>

namespace kestrom::engine {

/** @brief One node of a route: the crossbar pins it joins. */
struct TRouting {
  TRouting* upstream = nullptr;
  TRouting* downstream = nullptr;
  long inputIndex = 0, outputIndex = 0;
  long relatedInput = -1, relatedOutput = -1;
  com::ComPtr<dshow::IAMCrossbar> crossbar;
  long inputType = 0, outputType = 0;
  int depth = 0;
};

class TCrossbarTree {
 public:
  /** @brief Finds every route to the capture filter's video input pin at once. */
  explicit TCrossbarTree(dshow::IPin* startPin);

  /** @brief Routes the nodes of the route at a list position; S_OK only when a related route was made too. */
  dshow::HRESULT RouteTo(int position);
  /** @brief Routes again the first route whose input type is the one the crossbar routes to its output 0. */
  dshow::HRESULT RouteCurrentInput(dshow::IAMCrossbar* crossbar);

  /** @brief The routes, flat: each route takes depth + 1 places from its first node. */
  const std::vector<TRouting*>& Routes() const { return routes_; }
  int CurrentRoute() const { return current_; }

 private:
  enum Result { Failed, End, Found };
  Result BuildRoutes(dshow::IPin* pin, TRouting* node, int depth);
  void SaveRoute(TRouting* node);
  TRouting* NewNode();

  com::ComPtr<dshow::IPin> start_;
  TRouting* root_ = nullptr;
  std::vector<TRouting*> routes_;
  std::vector<std::unique_ptr<TRouting>> nodes_;
  int current_ = -1;
};

/** @brief One crossbar's pins: names with their related index, and what each output is routed from. */
class TCrossbar {
 public:
  struct Pin {
    QString name;
    long value = 0;  // inputs: the related pin; outputs: the routed input in the high 16 bits
  };
  void Assign(dshow::IAMCrossbar* crossbar);
  void Clear();
  dshow::IAMCrossbar* Crossbar() const { return crossbar_.Get(); }
  long InputCount() const { return inputCount_; }
  long OutputCount() const { return outputCount_; }
  const std::vector<Pin>& Inputs() const { return inputs_; }
  const std::vector<Pin>& Outputs() const { return outputs_; }

 private:
  com::ComPtr<dshow::IAMCrossbar> crossbar_;
  long inputCount_ = 0, outputCount_ = 0;
  std::vector<Pin> inputs_, outputs_;
};

/** @brief The name of a physical connector type; empty for an unknown type. */
QString ConnectorName(long type);

/** @brief "2!0!5!": the output count, then the input routed to each output. */
QString RoutingToText(dshow::IAMCrossbar* crossbar);
/** @brief Routes each output from its number of the text, when the text fits the crossbar; false otherwise. */
bool RoutingFromText(dshow::IAMCrossbar* crossbar, const QString& text);

/** @brief A crossbar's video inputs; a second input of a type carries " 1", a third " 2". */
struct TVideoInput {
  QString name;
  long type = 0;
  long index = 0;  // the crossbar's input index
};
std::vector<TVideoInput> VideoInputNames(dshow::IAMCrossbar* crossbar);

}  // namespace kestrom::engine
