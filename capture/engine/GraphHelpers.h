#pragma once
// Media-type classification and the pin and filter walks the graph builders share.

#include "platform/com/ComPtr.h"
#include "platform/dshow/base/Interfaces.h"
#include "platform/dshow/base/Types.h"

#include <QString>
#include <QStringList>
#include <vector>

namespace kestrom::engine {

using dshow::AM_MEDIA_TYPE;
using dshow::BITMAPINFOHEADER;
using dshow::GUID;
using dshow::HRESULT;
using dshow::IBaseFilter;
using dshow::IFilterGraph;
using dshow::IPin;
using dshow::PIN_DIRECTION;

// Types the media format kinds name that the base layer does not declare.
inline constexpr GUID MEDIATYPE_MPEG1SystemStream = com::MakeGuid("{E436EB82-524F-11CE-9F53-0020AF0BA770}");
inline constexpr GUID FORMAT_MPEGVideo = com::MakeGuid("{05589F82-C356-11CE-BF01-00AA0055595A}");
inline constexpr GUID FORMAT_MPEGStreams = com::MakeGuid("{05589F83-C356-11CE-BF01-00AA0055595A}");
inline constexpr GUID FORMAT_DvInfo = com::MakeGuid("{05589F84-C356-11CE-BF01-00AA0055595A}");
inline constexpr GUID FORMAT_MPEG2Video = com::MakeGuid("{E06D80E3-DB46-11CF-B4D1-00805F6CBBEA}");

/** @brief Media format kinds 0-8: VideoInfo, VideoInfo2, DV, MPEG-1 video, MPEG-2 video, MPEG streams, other MPEG-1 stream, wave, anything else. */
int MediaFormatKind(const AM_MEDIA_TYPE& type);
/** @brief The bitmap header of a video type's format block; null for kinds without one or a block too short. */
const BITMAPINFOHEADER* BitmapHeaderOf(const AM_MEDIA_TYPE& type);
/** @brief |height| x stride of a bitmap header; 0 without one. */
int64_t ImageSize(const BITMAPINFOHEADER* header);
inline bool SameGuid(const GUID& a, const GUID& b) { return a == b; }
/** @brief SubtypeName of a subtype class id. */
QString SubtypeName(const GUID& subtype);

/**
 * @brief Creates a COM object (in-process or local server), logs "instance: " + name with YES or
 * no, and tells whether it was made.
 */
bool CreateInstanceLogged(const GUID& clsid, const GUID& iid, void** object, const QString& name);

/** @brief The pins of a filter in its order, each with a reference. */
std::vector<com::ComPtr<IPin>> PinsOf(IBaseFilter* filter);
/** @brief A pin's name (empty on failure). */
QString PinName(IPin* pin);
/** @brief A filter's name in its graph (empty on failure). */
QString FilterName(IBaseFilter* filter);

/**
 * @brief The first pin of a direction whose name equals name (or contains it when partial),
 * without regard to case, skipping connected pins when unconnectedOnly. E_FAIL when none.
 */
HRESULT FindPinByName(IBaseFilter* filter, PIN_DIRECTION direction, const QString& name,
                      com::ComPtr<IPin>& pin, bool unconnectedOnly, bool partial);
/** @brief The names of a filter's pins of a direction, one a line. */
QString PinNames(PIN_DIRECTION direction, IBaseFilter* filter);
/** @brief True when one of the pin's media types has the major type and one of the subtypes (none: any). */
bool PinSupportsType(IPin* pin, const GUID& majorType, const std::vector<GUID>& subtypes);
/** @brief The first pin of a direction offering the major type (and subtype, unless GUID_NULL). */
HRESULT FindPinOfType(IBaseFilter* filter, PIN_DIRECTION direction, const GUID& majorType,
                      com::ComPtr<IPin>& pin, const GUID& subtype = com::GUID_NULL);
/**
 * @brief Walks the graph's filters (only the one of that name when a name is given) for the first
 * pin of a direction, unconnected or connected as asked, that offers the major type.
 */
bool FindGraphPin(IFilterGraph* graph, PIN_DIRECTION direction, bool unconnected, const QString& filterName,
                  com::ComPtr<IPin>& pin, const GUID& majorType);
/** @brief Disconnects every pin of the filter and its peer. */
void DisconnectAll(IBaseFilter* filter);
/** @brief The filters in the graph. */
std::vector<com::ComPtr<IBaseFilter>> FiltersOf(IFilterGraph* graph);
/**
 * @brief Removes every filter downstream of a connected pin from the graph, then disconnects the
 * pin. A filter in keep is only disconnected: it stays in the graph with what follows it.
 */
void RemoveDownstream(IFilterGraph* graph, IPin* pin, const std::vector<com::ComPtr<IBaseFilter>>& keep = {});
/** @brief Logs the chain from a filter along its connected outputs, two blanks per depth; adds each name. */
void LogFilterChain(IBaseFilter* filter, int depth, QStringList& names);

}  // namespace kestrom::engine
