#pragma once
// The ASF writer's network sinks, created by WMCreateWriterNetworkSink and WMCreateWriterPushSink
// (AsfWriter.h).
//
// The network sink listens on every address and serves the live stream over HTTP from a thread
// of its own. Clients that ask for MMS over HTTP (a player's user agent or client id) get its
// framing: the header in a $H chunk, each data packet in a $D chunk; a request without
// "xPlayStrm=1" gets the header alone. Other clients get plain ASF. A client that comes late gets
// the header, then the data from the next key frame on (the fragments of earlier frames in that
// first packet moved to a stream no reader decodes). A request over 8 KB gets 431, one not
// whole after 5 s 408, a client beyond the maximum 503, and a client that has not taken data
// queued 10 s ago is dropped: the writer never waits for a client.
//
// The push sink posts the stream to a publishing point (http:// or mms:// URL, mms:// posted as
// http to the same host and port) as one chunked HTTP POST, from a thread of its own; Connect
// fails when the point cannot be reached or does not accept the post.

#include "platform/dshow/writers/WriterInterfaces.h"

namespace kestrom::dshow {

/** @brief The publishing point an empty URL stands for. */
inline constexpr const char16_t* kDefaultPublishingPoint = u"http://localhost:8080/YourPublishingPoint";

HRESULT NewNetworkSink(IWMWriterNetworkSink** sink);
HRESULT NewPushSink(IWMWriterPushSink** sink);

}  // namespace kestrom::dshow
