// The reference operation-log record and the document the receiving platform must
// get for it (1709629622 is 2024-03-05 09:07:02 UTC; run with TZ=UTC).
#ifndef TARVEX_TESTS_SUPPORT_WORKED_EXAMPLE_H_
#define TARVEX_TESTS_SUPPORT_WORKED_EXAMPLE_H_

// The message as a producer publishes it on almTopic.
constexpr const char* kWorkedExampleMessage =
    "[{\"classname\":\"Control\",\"occurtime\":\"1709629622\",\"occurms\":\"250\","
    "\"devicekey\":\"DEV.0042\",\"appsysid\":\"3\",\"chardesc\":\"Breaker 12 closed\","
    "\"userattr[0]\":\"op01\",\"userattr[1]\":\"WS05\",\"groupname\":\"ST07\"}]";

// The logsynset.ini dictionaries it needs: application system 3 and station ST07.
constexpr const char* kWorkedExampleDictionaries =
    "[appSysId]\nappsysidnum=1\nappsysid0=3\nappsysiddesc0=Power supply\n"
    "[stationInfo]\nstationnum=1\n"
    "stationlindid0=L2\nstationlinddesc0=Line 2\n"
    "stationid0=S07\nstationdesc0=Station Seven\nstationcode0=ST07\n";

// The document: members in byte order, compact, one trailing line feed.
constexpr const char* kWorkedExampleDocument =
    "[{\"description\":\"Breaker 12 closed\",\"eventType\":\"122\","
    "\"guid\":\"1709629622:250:DEV.0042:Control\",\"lineId\":\"L2\",\"lineName\":\"Line 2\","
    "\"major\":\"Power supply\",\"operateTime\":\"2024-3-5 9:7:2\",\"operator\":\"\","
    "\"result\":\"\",\"roleName\":\"\",\"stationId\":\"S07\",\"stationName\":\"Station Seven\","
    "\"subSystem\":\"\",\"target\":\"\",\"userName\":\"op01\",\"userShortName\":\"\","
    "\"workstation\":\"WS05\"}]\n";

#endif  // TARVEX_TESTS_SUPPORT_WORKED_EXAMPLE_H_
