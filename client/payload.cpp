// The two request payloads. The web farm compares the request text literally,
// so the member order and the writer's layout are part of the protocol.
#include <cstdint>
#include <sstream>
#include <string>

#include "client/client_info.h"
#include "json/elements.h"
#include "json/writer.h"
#include "platform/env.h"
#include "settings/process_state.h"

namespace {

std::string WriteObject(const json::Object& object) {
  std::ostringstream stream;
  json::Writer::Write(object, stream);
  return stream.str();
}

}  // namespace

std::string CClientInfo::BuildFirstCallData() {
  json::Object payload;
  payload["cid"] = json::String(getComputerID());
  payload["os"] = json::String(strOSName);
  payload["loc"] = json::String(strLocale);
  payload["sv_ver"] = json::String(std::string(szServiceVersion));
  payload["prod"] = json::String(getProductNumber());
  return WriteObject(payload);
}

std::string CClientInfo::BuildUpdateCheckData() {
  platform::Clock* clock = platform::Env::Default()->clock();
  json::Object payload;
  payload["cid"] = json::String(strComputerID);
  payload["os"] = json::String(strOSName);
  payload["loc"] = json::String(strLocale);
  payload["sv_ver"] = json::String(std::string(szServiceVersion));
  payload["prod"] = json::String(getProductNumber());
  payload["mv_ver"] = json::String(getMetadataVer());
  // The low 32 bits of the time, read as signed: negative after January 2038.
  const int32_t utc = static_cast<int32_t>(static_cast<uint32_t>(clock->Now()));
  payload["utc"] = json::Number(utc);
  // Minutes east of Greenwich, standard time; daylight saving is not applied.
  payload["toff"] = json::Number(-static_cast<double>(clock->GetTimeZoneBias()));
  return WriteObject(payload);
}
