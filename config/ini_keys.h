// The names of the three configuration files, of their sections and of every key
// the service reads, each spelled once: RedisSettings, SyncConfig, TarvexOptions
// and the run log look them up with these, and the operator check knows them from
// knownIniKeys.
//
// An indexed key is a prefix followed by the entry's index as "%d" writes it
// ("MasterIp0", "MasterIp1" ...; iniIndexedKey); its count key says how many
// entries are read. Section and key names are case-sensitive to the reader.
//
// Constants and pure functions over static tables; thread-safe.
#ifndef TARVEX_CONFIG_INI_KEYS_H_
#define TARVEX_CONFIG_INI_KEYS_H_

#include <string>
#include <vector>

constexpr const char* kRedisFile = "rdsset.ini";
constexpr const char* kSyncFile = "logsynset.ini";
constexpr const char* kOptionsFile = "tarvex.ini";

namespace ini {

// rdsset.ini
constexpr const char* kConnectionModeSection = "ConnectionMode";
constexpr const char* kMode = "Mode";
constexpr const char* kFormatSection = "Format";
constexpr const char* kOvertimeSec = "OvertimeSec";
constexpr const char* kOvertimeUsec = "OvertimeUsec";
constexpr const char* kConnectionMasterSection = "ConnectionMaster";
constexpr const char* kMasterNum = "MasterNum";
constexpr const char* kMasterIp = "MasterIp";      // indexed
constexpr const char* kMasterPort = "MasterPort";  // indexed
constexpr const char* kConnectionSlaveSection = "ConnectionSlave";
constexpr const char* kSlaveNum = "SlaveNum";
constexpr const char* kSlaveIp = "SlaveIp";      // indexed
constexpr const char* kSlavePort = "SlavePort";  // indexed
constexpr const char* kSentinelSection = "Sentinel";
constexpr const char* kSentinelNum = "SentinelNum";
constexpr const char* kSentinelIp = "SentinelIp";      // indexed
constexpr const char* kSentinelPort = "SentinelPort";  // indexed

// logsynset.ini
constexpr const char* kUrlSection = "tovraurl";
constexpr const char* kUrl = "url";
constexpr const char* kLogFlagSection = "synLogFlag";
constexpr const char* kLogFlag = "Flag";
constexpr const char* kAppSysSection = "appSysId";
constexpr const char* kAppSysNum = "appsysidnum";
constexpr const char* kAppSysId = "appsysid";        // indexed
constexpr const char* kAppSysDesc = "appsysiddesc";  // indexed
constexpr const char* kStationSection = "stationInfo";
constexpr const char* kStationNum = "stationnum";
constexpr const char* kStationLineId = "stationlindid";      // indexed
constexpr const char* kStationLineDesc = "stationlinddesc";  // indexed
constexpr const char* kStationId = "stationid";              // indexed
constexpr const char* kStationDesc = "stationdesc";          // indexed
constexpr const char* kStationCode = "stationcode";          // indexed
constexpr const char* kEventTypeSection = "evevtType";  // spelt so in every installation
constexpr const char* kEventTypeNum = "eventtypenum";
constexpr const char* kEventTypeId = "eventtypeid";      // indexed
constexpr const char* kEventTypeDesc = "eventtypedesc";  // indexed
constexpr const char* kEventTypeCode = "eventtypecode";  // indexed

// tarvex.ini
constexpr const char* kRedisAuthSection = "RedisAuth";
constexpr const char* kRedisUser = "RedisUser";
constexpr const char* kRedisPassword = "RedisPassword";
constexpr const char* kSentinelUser = "SentinelUser";
constexpr const char* kSentinelPassword = "SentinelPassword";
constexpr const char* kHttpSection = "Http";
constexpr const char* kCaFile = "CaFile";
constexpr const char* kClientCertFile = "ClientCertFile";
constexpr const char* kClientKeyFile = "ClientKeyFile";
constexpr const char* kHeaderNum = "HeaderNum";
constexpr const char* kHeader = "Header";  // indexed
constexpr const char* kKeepAlive = "KeepAlive";
constexpr const char* kDurableSection = "Durable";
constexpr const char* kDurable = "Durable";
constexpr const char* kStreamMaxLen = "StreamMaxLen";
constexpr const char* kRetryMaxSeconds = "RetryMaxSeconds";
constexpr const char* kDeadLetterMaxLen = "DeadLetterMaxLen";
constexpr const char* kStatusSection = "Status";
constexpr const char* kStatusListen = "StatusListen";
constexpr const char* kServiceSection = "Service";
constexpr const char* kStopHandoverSeconds = "StopHandoverSeconds";

}  // namespace ini

// The name of entry `index` of an indexed key: prefix + index as "%d" writes it.
std::string iniIndexedKey(const char* prefix, long index);

// A key the service reads: an exact name, or a prefix followed by an index
// (`indexed`; then `countKey` names the key of the count).
struct KnownIniKey {
  const char* section;
  const char* name;
  bool indexed;
  const char* countKey;  // "" when not indexed
};

// The keys of rdsset.ini, logsynset.ini and tarvex.ini, by file name; null for
// another name.
const std::vector<KnownIniKey>* knownIniKeys(const std::string& fileName);

// Whether `name` is one of `keys`: *match receives the key, *index the index of an
// indexed key (else -1).
bool matchKnownKey(const std::vector<KnownIniKey>& keys, const std::string& name,
                   const KnownIniKey** match, long* index);

// A known key whose name equals `name` ignoring ASCII case (indexed keys keep the
// index), as the suggestion for a misspelt key; "" when none.
std::string suggestKnownKey(const std::vector<KnownIniKey>& keys, const std::string& name);

#endif  // TARVEX_CONFIG_INI_KEYS_H_
