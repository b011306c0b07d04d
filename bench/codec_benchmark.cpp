// Throughput of the standard codecs against baselines measured in the same
// run, so the results are ratios that hold on a noisy machine:
//   (a) a 1 MiB byte list and (b) 131,072 doubles, against memcpy of the
//       same bytes;
//   (c) a map of 10,000 string keys to 64-bit integers, (d) the startTunnel
//       method call with a 1 KiB configuration, and (e) 1,000 lists of
//       (int32, "abc", bool, double), against msgpack-cxx packing the same
//       logical data and unpacking it into the same kind of C++ containers.
// Each workload runs encode and decode; every iteration builds and destroys
// its own result, as a channel message does.
//
// Run pinned to one core, then summarise the medians as ratios:
//   taskset -c 1 build/codec-bench/bench/codec_benchmark
//       --benchmark_repetitions=5 --benchmark_format=json > bench.json
//   python3 bench/ratios.py bench.json
#include <benchmark/benchmark.h>
#include <msgpack.hpp>

#include <cstdio>
#include <cstring>
#include <map>
#include <memory>
#include <string>
#include <tuple>
#include <vector>

#include "embedding/byte_streams.h"
#include "embedding/encodable_value.h"
#include "embedding/method_call.h"
#include "embedding/standard_codec_serializer.h"
#include "embedding/standard_method_codec.h"

namespace {

using flutter::EncodableValue;
using flutter::EncodableValueList;
using flutter::EncodableValueMap;

const flutter::StandardCodecSerializer& Serializer() {
  return flutter::StandardCodecSerializer::GetInstance();
}

std::vector<uint8_t> Encode(const EncodableValue& value) {
  std::vector<uint8_t> bytes;
  flutter::ByteBufferStreamWriter writer(&bytes);
  Serializer().WriteValue(value, &writer);
  return bytes;
}

EncodableValue Decode(const std::vector<uint8_t>& bytes) {
  flutter::ByteBufferStreamReader reader(bytes.data(), bytes.size());
  return Serializer().ReadValue(&reader);
}

void ValueEncode(benchmark::State& state, const EncodableValue& value) {
  for (auto _ : state) {
    std::vector<uint8_t> bytes = Encode(value);
    benchmark::DoNotOptimize(bytes.data());
  }
}

void ValueDecode(benchmark::State& state, const EncodableValue& value) {
  const std::vector<uint8_t> bytes = Encode(value);
  for (auto _ : state) {
    EncodableValue decoded = Decode(bytes);
    benchmark::DoNotOptimize(&decoded);
  }
}

void Memcpy(benchmark::State& state, size_t size) {
  std::vector<uint8_t> source(size, 0x5A);
  std::vector<uint8_t> target(size);
  for (auto _ : state) {
    std::memcpy(target.data(), source.data(), size);
    benchmark::DoNotOptimize(target.data());
    benchmark::ClobberMemory();
  }
}

template <typename T>
void MsgpackPack(benchmark::State& state, const T& data) {
  for (auto _ : state) {
    msgpack::sbuffer buffer;
    msgpack::pack(buffer, data);
    benchmark::DoNotOptimize(buffer.data());
  }
}

template <typename T>
void MsgpackUnpack(benchmark::State& state, const T& data) {
  msgpack::sbuffer buffer;
  msgpack::pack(buffer, data);
  for (auto _ : state) {
    msgpack::object_handle handle = msgpack::unpack(buffer.data(), buffer.size());
    T decoded = handle.get().as<T>();
    benchmark::DoNotOptimize(&decoded);
  }
}

// The same data as msgpack's own dynamic value tree (msgpack::object, built
// beforehand in a zone, as the codec's value tree is) and unpacked into one
// without conversion: the dynamic-to-dynamic comparison.
template <typename T>
void MsgpackPackObject(benchmark::State& state, const T& data) {
  msgpack::zone zone;
  const msgpack::object object(data, zone);
  for (auto _ : state) {
    msgpack::sbuffer buffer;
    msgpack::pack(buffer, object);
    benchmark::DoNotOptimize(buffer.data());
  }
}

template <typename T>
void MsgpackUnpackObject(benchmark::State& state, const T& data) {
  msgpack::sbuffer buffer;
  msgpack::pack(buffer, data);
  for (auto _ : state) {
    msgpack::object_handle handle = msgpack::unpack(buffer.data(), buffer.size());
    benchmark::DoNotOptimize(&handle.get());
  }
}

// (a) and (b): bulk payloads.
constexpr size_t kBulkBytes = size_t{1} << 20;

const EncodableValue& ByteList() {
  static const EncodableValue value(std::vector<uint8_t>(kBulkBytes, 0xA5));
  return value;
}

const EncodableValue& DoubleList() {
  static const EncodableValue value = [] {
    std::vector<double> numbers(kBulkBytes / sizeof(double));
    for (size_t i = 0; i < numbers.size(); ++i) numbers[i] = 0.5 * i;
    return EncodableValue(std::move(numbers));
  }();
  return value;
}

// (c): a map of string keys "key_00000"... to 64-bit integers.
constexpr int kMapEntries = 10000;

std::string Key(int i) {
  char key[16];
  std::snprintf(key, sizeof(key), "key_%05d", i);
  return key;
}

const EncodableValue& StringMap() {
  static const EncodableValue value = [] {
    EncodableValueMap map;
    for (int i = 0; i < kMapEntries; ++i) {
      map.emplace_hint(map.end(), EncodableValue(Key(i)), EncodableValue(int64_t{i} * 1000003));
    }
    return EncodableValue(std::move(map));
  }();
  return value;
}

const std::map<std::string, int64_t>& NativeStringMap() {
  static const std::map<std::string, int64_t> map = [] {
    std::map<std::string, int64_t> native;
    for (int i = 0; i < kMapEntries; ++i) native.emplace(Key(i), int64_t{i} * 1000003);
    return native;
  }();
  return map;
}

// (d): the startTunnel call with a 1 KiB configuration.
const std::string& Configuration() {
  static const std::string text = [] {
    std::string config = "[Interface]\nPrivateKey = ";
    while (config.size() < 1024) config += "abcdefghijklmnopqrstuvwxyz0123456789+/\n";
    config.resize(1024);
    return config;
  }();
  return text;
}

const flutter::MethodCall& StartTunnelCall() {
  static const flutter::MethodCall call(
      "startTunnel", std::make_unique<EncodableValue>(EncodableValueMap{
                         {EncodableValue("config"), EncodableValue(Configuration())}}));
  return call;
}

using NativeCall = std::tuple<std::string, std::map<std::string, std::string>>;

NativeCall NativeStartTunnelCall() {
  return NativeCall("startTunnel", {{"config", Configuration()}});
}

// (e): 1,000 lists of four mixed values.
constexpr int kRows = 1000;

const EncodableValue& Rows() {
  static const EncodableValue value = [] {
    EncodableValueList rows;
    rows.reserve(kRows);
    for (int i = 0; i < kRows; ++i) {
      rows.push_back(
          EncodableValue(EncodableValueList{EncodableValue(int32_t{i}), EncodableValue("abc"),
                                            EncodableValue(i % 2 == 0), EncodableValue(i * 0.25)}));
    }
    return EncodableValue(std::move(rows));
  }();
  return value;
}

using NativeRow = std::tuple<int32_t, std::string, bool, double>;

std::vector<NativeRow> NativeRows() {
  std::vector<NativeRow> rows;
  for (int i = 0; i < kRows; ++i) rows.emplace_back(i, "abc", i % 2 == 0, i * 0.25);
  return rows;
}

void BM_ByteList_Encode(benchmark::State& state) {
  ValueEncode(state, ByteList());
  state.SetBytesProcessed(state.iterations() * kBulkBytes);
}
void BM_ByteList_Decode(benchmark::State& state) {
  ValueDecode(state, ByteList());
  state.SetBytesProcessed(state.iterations() * kBulkBytes);
}
void BM_ByteList_Memcpy(benchmark::State& state) {
  Memcpy(state, kBulkBytes);
  state.SetBytesProcessed(state.iterations() * kBulkBytes);
}
void BM_DoubleList_Encode(benchmark::State& state) {
  ValueEncode(state, DoubleList());
  state.SetBytesProcessed(state.iterations() * kBulkBytes);
}
void BM_DoubleList_Decode(benchmark::State& state) {
  ValueDecode(state, DoubleList());
  state.SetBytesProcessed(state.iterations() * kBulkBytes);
}
void BM_DoubleList_Memcpy(benchmark::State& state) {
  Memcpy(state, kBulkBytes);
  state.SetBytesProcessed(state.iterations() * kBulkBytes);
}

void BM_StringMap_Encode(benchmark::State& state) { ValueEncode(state, StringMap()); }
void BM_StringMap_Decode(benchmark::State& state) { ValueDecode(state, StringMap()); }
void BM_StringMap_MsgpackPack(benchmark::State& state) { MsgpackPack(state, NativeStringMap()); }
void BM_StringMap_MsgpackUnpack(benchmark::State& state) {
  MsgpackUnpack(state, NativeStringMap());
}

void BM_StartTunnel_Encode(benchmark::State& state) {
  const auto& codec = flutter::StandardMethodCodec::GetInstance();
  for (auto _ : state) {
    auto bytes = codec.EncodeMethodCall(StartTunnelCall());
    benchmark::DoNotOptimize(bytes->data());
  }
}
void BM_StartTunnel_Decode(benchmark::State& state) {
  const auto& codec = flutter::StandardMethodCodec::GetInstance();
  const auto bytes = codec.EncodeMethodCall(StartTunnelCall());
  for (auto _ : state) {
    auto call = codec.DecodeMethodCall(bytes->data(), bytes->size());
    benchmark::DoNotOptimize(call.get());
  }
}
void BM_StartTunnel_MsgpackPack(benchmark::State& state) {
  MsgpackPack(state, NativeStartTunnelCall());
}
void BM_StartTunnel_MsgpackUnpack(benchmark::State& state) {
  MsgpackUnpack(state, NativeStartTunnelCall());
}

void BM_Rows_Encode(benchmark::State& state) { ValueEncode(state, Rows()); }
void BM_Rows_Decode(benchmark::State& state) { ValueDecode(state, Rows()); }
void BM_Rows_MsgpackPack(benchmark::State& state) { MsgpackPack(state, NativeRows()); }
void BM_Rows_MsgpackUnpack(benchmark::State& state) { MsgpackUnpack(state, NativeRows()); }

void BM_StringMap_MsgpackPackObject(benchmark::State& state) {
  MsgpackPackObject(state, NativeStringMap());
}
void BM_StringMap_MsgpackUnpackObject(benchmark::State& state) {
  MsgpackUnpackObject(state, NativeStringMap());
}
void BM_StartTunnel_MsgpackPackObject(benchmark::State& state) {
  MsgpackPackObject(state, NativeStartTunnelCall());
}
void BM_StartTunnel_MsgpackUnpackObject(benchmark::State& state) {
  MsgpackUnpackObject(state, NativeStartTunnelCall());
}
void BM_Rows_MsgpackPackObject(benchmark::State& state) { MsgpackPackObject(state, NativeRows()); }
void BM_Rows_MsgpackUnpackObject(benchmark::State& state) {
  MsgpackUnpackObject(state, NativeRows());
}

BENCHMARK(BM_ByteList_Encode);
BENCHMARK(BM_ByteList_Decode);
BENCHMARK(BM_ByteList_Memcpy);
BENCHMARK(BM_DoubleList_Encode);
BENCHMARK(BM_DoubleList_Decode);
BENCHMARK(BM_DoubleList_Memcpy);
BENCHMARK(BM_StringMap_Encode);
BENCHMARK(BM_StringMap_Decode);
BENCHMARK(BM_StringMap_MsgpackPack);
BENCHMARK(BM_StringMap_MsgpackUnpack);
BENCHMARK(BM_StringMap_MsgpackPackObject);
BENCHMARK(BM_StringMap_MsgpackUnpackObject);
BENCHMARK(BM_StartTunnel_Encode);
BENCHMARK(BM_StartTunnel_Decode);
BENCHMARK(BM_StartTunnel_MsgpackPack);
BENCHMARK(BM_StartTunnel_MsgpackUnpack);
BENCHMARK(BM_StartTunnel_MsgpackPackObject);
BENCHMARK(BM_StartTunnel_MsgpackUnpackObject);
BENCHMARK(BM_Rows_Encode);
BENCHMARK(BM_Rows_Decode);
BENCHMARK(BM_Rows_MsgpackPack);
BENCHMARK(BM_Rows_MsgpackUnpack);
BENCHMARK(BM_Rows_MsgpackPackObject);
BENCHMARK(BM_Rows_MsgpackUnpackObject);

}  // namespace

BENCHMARK_MAIN();
