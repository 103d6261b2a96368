// The GStreamer side of the graph's GStreamer source: build and preroll the decoding pipeline,
// read what its streams became, pull their pieces and seek.
#include "platform/dshow/gstreamer_pipeline.h"

#include <gst/app/gstappsink.h>
#include <gst/gst.h>
#include <gst/video/video.h>

#include <cstring>

namespace {

constexpr GstClockTime kPrerollLimit = 10 * GST_SECOND;

bool InitializeGStreamer() {
  static const bool initialized = gst_init_check(nullptr, nullptr, nullptr) != FALSE;
  return initialized;
}

// Converter, caps and an appsink after a decoded pad; the sink keeps few pieces so that the
// decoder runs only as far ahead as the graph takes them.
GstElement* MakeBranch(GstElement* pipeline, GstPad* pad, bool video) {
  GstElement* convert = gst_element_factory_make(video ? "videoconvert" : "audioconvert", nullptr);
  GstElement* resample = video ? nullptr : gst_element_factory_make("audioresample", nullptr);
  GstElement* filter = gst_element_factory_make("capsfilter", nullptr);
  GstElement* sink = gst_element_factory_make("appsink", nullptr);
  if (convert == nullptr || filter == nullptr || sink == nullptr ||
      (!video && resample == nullptr)) {
    for (GstElement* e : {convert, resample, filter, sink})
      if (e != nullptr) gst_object_unref(e);
    return nullptr;
  }
  GstCaps* caps = gst_caps_from_string(
      video ? "video/x-raw,format=BGR"
            : "audio/x-raw,format=S16LE,layout=interleaved,channels=[1,2],rate=[100,200000]");
  g_object_set(filter, "caps", caps, nullptr);
  gst_caps_unref(caps);
  g_object_set(sink, "sync", FALSE, "max-buffers", 4, "drop", FALSE, "enable-last-sample", FALSE,
               nullptr);
  gst_bin_add_many(GST_BIN(pipeline), convert, filter, sink, nullptr);
  if (resample != nullptr) gst_bin_add(GST_BIN(pipeline), resample);
  const bool linked = resample != nullptr
                          ? gst_element_link_many(convert, resample, filter, sink, nullptr)
                          : gst_element_link_many(convert, filter, sink, nullptr);
  for (GstElement* e : {sink, filter, resample, convert})
    if (e != nullptr) gst_element_sync_state_with_parent(e);
  GstPad* input = gst_element_get_static_pad(convert, "sink");
  const bool padLinked = linked && gst_pad_link(pad, input) == GST_PAD_LINK_OK;
  gst_object_unref(input);
  return padLinked ? sink : nullptr;
}

// A stream the source does not pass on still has to take its data, or the demuxer stops.
void DiscardPad(GstElement* pipeline, GstPad* pad) {
  GstElement* sink = gst_element_factory_make("fakesink", nullptr);
  if (sink == nullptr) return;
  g_object_set(sink, "sync", FALSE, "async", FALSE, nullptr);
  gst_bin_add(GST_BIN(pipeline), sink);
  gst_element_sync_state_with_parent(sink);
  GstPad* input = gst_element_get_static_pad(sink, "sink");
  gst_pad_link(pad, input);
  gst_object_unref(input);
}

}  // namespace

void GstMoviePipeline::OnPadAdded(void*, void* padPointer, void* selfPointer) {
  auto* self = static_cast<GstMoviePipeline*>(selfPointer);
  auto* pad = static_cast<GstPad*>(padPointer);
  auto* pipeline = static_cast<GstElement*>(self->pipeline_);
  GstCaps* caps = gst_pad_get_current_caps(pad);
  if (caps == nullptr) caps = gst_pad_query_caps(pad, nullptr);
  const char* name = caps != nullptr && gst_caps_get_size(caps) > 0
                         ? gst_structure_get_name(gst_caps_get_structure(caps, 0))
                         : "";
  const bool video = std::strcmp(name, "video/x-raw") == 0;
  const bool audio = std::strcmp(name, "audio/x-raw") == 0;
  if (caps != nullptr) gst_caps_unref(caps);
  std::lock_guard guard(self->streamsLock_);
  bool wanted = video || audio;
  for (const GstMovieStream& stream : self->streams_)
    if (stream.video == video) wanted = false;
  GstElement* sink = wanted ? MakeBranch(pipeline, pad, video) : nullptr;
  if (sink == nullptr) {
    DiscardPad(pipeline, pad);
    return;
  }
  GstMovieStream stream;
  stream.video = video;
  stream.sink = sink;
  self->streams_.push_back(stream);
}

bool GstMoviePipeline::WaitForPreroll() {
  GstElement* pipeline = static_cast<GstElement*>(pipeline_);
  GstBus* bus = gst_element_get_bus(pipeline);
  bool prerolled = false;
  for (;;) {
    GstMessage* message = gst_bus_timed_pop_filtered(
        bus, kPrerollLimit,
        static_cast<GstMessageType>(GST_MESSAGE_ERROR | GST_MESSAGE_ASYNC_DONE | GST_MESSAGE_EOS));
    if (message == nullptr) break;
    const GstMessageType type = GST_MESSAGE_TYPE(message);
    const bool fromPipeline = GST_MESSAGE_SRC(message) == GST_OBJECT(pipeline);
    gst_message_unref(message);
    if (type == GST_MESSAGE_ERROR) break;
    if (type == GST_MESSAGE_ASYNC_DONE && fromPipeline) {
      prerolled = true;
      break;
    }
  }
  gst_object_unref(bus);
  return prerolled;
}

std::unique_ptr<GstMoviePipeline> GstMoviePipeline::Open(const std::string& posixPath) {
  if (!InitializeGStreamer()) return nullptr;
  if (!g_file_test(posixPath.c_str(), G_FILE_TEST_IS_REGULAR)) return nullptr;
  std::unique_ptr<GstMoviePipeline> movie(new GstMoviePipeline);
  GstElement* pipeline = gst_pipeline_new(nullptr);
  GstElement* source = gst_element_factory_make("filesrc", nullptr);
  GstElement* decode = gst_element_factory_make("decodebin", nullptr);
  if (pipeline == nullptr || source == nullptr || decode == nullptr) {
    for (GstElement* e : {pipeline, source, decode})
      if (e != nullptr) gst_object_unref(e);
    return nullptr;
  }
  movie->pipeline_ = pipeline;
  g_object_set(source, "location", posixPath.c_str(), nullptr);
  gst_bin_add_many(GST_BIN(pipeline), source, decode, nullptr);
  if (!gst_element_link(source, decode)) return nullptr;
  g_signal_connect(decode, "pad-added", G_CALLBACK(OnPadAdded), movie.get());
  if (gst_element_set_state(pipeline, GST_STATE_PAUSED) == GST_STATE_CHANGE_FAILURE ||
      !movie->WaitForPreroll())
    return nullptr;

  std::lock_guard guard(movie->streamsLock_);
  for (GstMovieStream& stream : movie->streams_) {
    GstPad* pad = gst_element_get_static_pad(static_cast<GstElement*>(stream.sink), "sink");
    GstCaps* caps = gst_pad_get_current_caps(pad);
    gst_object_unref(pad);
    if (caps == nullptr) return nullptr;
    GstStructure* structure = gst_caps_get_structure(caps, 0);
    if (stream.video) {
      GstVideoInfo info;
      const bool known = gst_video_info_from_caps(&info, caps);
      stream.width = known ? GST_VIDEO_INFO_WIDTH(&info) : 0;
      stream.height = known ? GST_VIDEO_INFO_HEIGHT(&info) : 0;
      if (known && GST_VIDEO_INFO_FPS_N(&info) > 0)
        stream.frameDuration = static_cast<std::int64_t>(gst_util_uint64_scale_int(
            GST_SECOND, GST_VIDEO_INFO_FPS_D(&info), GST_VIDEO_INFO_FPS_N(&info)));
    } else {
      gst_structure_get_int(structure, "rate", &stream.rate);
      gst_structure_get_int(structure, "channels", &stream.channels);
    }
    gst_caps_unref(caps);
  }
  gint64 duration = 0;
  if (gst_element_query_duration(pipeline, GST_FORMAT_TIME, &duration) && duration > 0)
    movie->duration_ = duration;
  return movie;
}

GstMoviePipeline::~GstMoviePipeline() {
  if (pipeline_ == nullptr) return;
  // Down to NULL first: that ends the pipeline's threads and with them the pad-added callback.
  gst_element_set_state(static_cast<GstElement*>(pipeline_), GST_STATE_NULL);
  gst_object_unref(pipeline_);
}

bool GstMoviePipeline::SetFlowing(bool flowing) {
  return gst_element_set_state(static_cast<GstElement*>(pipeline_),
                               flowing ? GST_STATE_PLAYING : GST_STATE_PAUSED) !=
         GST_STATE_CHANGE_FAILURE;
}

bool GstMoviePipeline::Seek(std::int64_t start, std::int64_t stop) {
  auto* pipeline = static_cast<GstElement*>(pipeline_);
  if (!gst_element_seek(pipeline, 1.0, GST_FORMAT_TIME,
                        static_cast<GstSeekFlags>(GST_SEEK_FLAG_FLUSH | GST_SEEK_FLAG_ACCURATE),
                        GST_SEEK_TYPE_SET, start, stop < 0 ? GST_SEEK_TYPE_NONE : GST_SEEK_TYPE_SET,
                        stop < 0 ? GST_CLOCK_TIME_NONE : stop))
    return false;
  return gst_element_get_state(pipeline, nullptr, nullptr, kPrerollLimit) !=
         GST_STATE_CHANGE_FAILURE;
}

int GstMoviePipeline::Pull(int index, GstMoviePiece* piece, int timeoutMs, int pitch) {
  GstMovieStream stream;
  {
    std::lock_guard guard(streamsLock_);
    stream = streams_[static_cast<size_t>(index)];
  }
  auto* sink = static_cast<GstAppSink*>(stream.sink);
  GstSample* sample =
      gst_app_sink_try_pull_sample(sink, static_cast<GstClockTime>(timeoutMs) * GST_MSECOND);
  if (sample == nullptr) return gst_app_sink_is_eos(sink) ? -1 : 0;
  GstBuffer* buffer = gst_sample_get_buffer(sample);
  const GstSegment* segment = gst_sample_get_segment(sample);
  if (buffer == nullptr) {
    gst_sample_unref(sample);
    return 0;
  }
  const GstClockTime pts = GST_BUFFER_PTS(buffer);
  piece->position = GST_CLOCK_TIME_IS_VALID(pts) ? static_cast<std::int64_t>(pts) : 0;
  piece->duration = GST_BUFFER_DURATION_IS_VALID(buffer)
                        ? static_cast<std::int64_t>(GST_BUFFER_DURATION(buffer))
                        : stream.frameDuration;
  const guint64 running = segment != nullptr && GST_CLOCK_TIME_IS_VALID(pts)
                              ? gst_segment_to_running_time(segment, GST_FORMAT_TIME, pts)
                              : GST_CLOCK_TIME_NONE;
  piece->runningTime = GST_CLOCK_TIME_IS_VALID(running) ? static_cast<std::int64_t>(running) : 0;
  bool copied = false;
  if (stream.video) {
    GstVideoInfo info;
    GstVideoFrame frame;
    GstCaps* caps = gst_sample_get_caps(sample);
    if (caps != nullptr && gst_video_info_from_caps(&info, caps) &&
        GST_VIDEO_INFO_WIDTH(&info) == stream.width &&
        GST_VIDEO_INFO_HEIGHT(&info) == stream.height &&
        gst_video_frame_map(&frame, &info, buffer, GST_MAP_READ)) {
      // Rows as the frame lays them out, into rows of the pitch the graph was told.
      const int rowBytes = stream.width * 3;
      const int stride = GST_VIDEO_FRAME_PLANE_STRIDE(&frame, 0);
      const auto* rows = static_cast<const std::uint8_t*>(GST_VIDEO_FRAME_PLANE_DATA(&frame, 0));
      piece->bytes.assign(static_cast<size_t>(pitch) * stream.height, 0);
      for (int row = 0; row < stream.height; ++row)
        std::memcpy(piece->bytes.data() + static_cast<size_t>(row) * pitch,
                    rows + static_cast<std::ptrdiff_t>(row) * stride, rowBytes);
      gst_video_frame_unmap(&frame);
      copied = true;
    }
  } else {
    GstMapInfo map;
    if (gst_buffer_map(buffer, &map, GST_MAP_READ)) {
      piece->bytes.assign(map.data, map.data + map.size);
      gst_buffer_unmap(buffer, &map);
      copied = true;
    }
  }
  gst_sample_unref(sample);
  if (!copied) piece->bytes.clear();
  return 1;
}
