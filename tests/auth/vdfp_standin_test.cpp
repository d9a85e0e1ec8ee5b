// The stand-in authentication library and host, driven through the agent's own binding
// (CVDFPApi): the contract's behaviour the agent relies on, and that the binding's owners
// give back every buffer.
#include <gtest/gtest.h>

#include <unistd.h>

#include <cstring>
#include <filesystem>
#include <fstream>
#include <tuple>

#include "platform/handles.h"
#include "platform/sim/session_manager.h"
#include "support/result_error.h"
#include "support/vdfp/vdfp_api.h"
#include "tests/auth/auth_test_util.h"

namespace {

using authtest::Posted;
using authtest::RecordingWindow;
using authtest::SimAgentTest;
using vdfp_standin::VdfpDescription;

const std::wstring kAliceSam = L"VDSIM-PC\\alice";
const std::wstring kAliceSid = L"S-1-5-21-3623811015-3361044348-30300820-1001";

// Alice (fingerprint and password), Bob (password only), Carol (a suite account, format 9).
VdfpDescription ThreeUsers() {
  return VdfpDescription::FromJson(R"({
    "users": [
      {"name": "alice", "session": 1, "enrolled": ["Password", "Fingerprint"]},
      {"name": "bob", "session": 2, "enrolled": "Password", "policy": ["Password+Smartcard"]},
      {"name": "carol", "names": {"VD": "carol@vd", "Display": "Carol C"},
       "enrolled": ["Fingerprint"]}
    ],
    "host": {"asyncReplyDelayMs": 50}
  })");
}

class StandinTest : public SimAgentTest {
 protected:
  void Start(VdfpDescription d = VdfpDescription::Default(),
             vdfp_standin::SimInstallOptions o = {}) {
    Install(std::move(d), std::move(o));
    ASSERT_EQ(m_api.VDFPInit(), S_OK);
  }
  void TearDown() override {
    if (m_vdfp) {
      // Whatever a test did, the binding's owners gave every buffer back.
      EXPECT_EQ(Host().Buffers().OutstandingTags(), std::vector<std::string>{});
      EXPECT_EQ(Host().Buffers().InvalidFrees(), 0u);
    }
  }
  // An acquisition that posts reader events to `w`, started.
  HVDFPACQUISITION Acquire(const RecordingWindow& w) {
    HVDFPACQUISITION acq = nullptr;
    EXPECT_EQ(m_api.VDFPCreateAcquisition(VDFP_ACQUISITION_PURPOSE_IDENTIFY, GUID{},
                                          VDFP_ACQUISITION_NOTIFY_WINDOW, w.hwnd(),
                                          VDFP_READER_MESSAGE, &acq),
              S_OK);
    EXPECT_EQ(m_api.VDFPStartAcquisition(acq), S_OK);
    return acq;
  }
  // The translated name (empty on failure, when no buffer may be handed out) and the result.
  std::pair<HRESULT, std::wstring> Translate(const std::wstring& name, DWORD from, DWORD to) {
    CVDFPString out(m_api);
    const HRESULT hr = m_api.VDFPTranslateName(name.c_str(), from, to, out.put());
    EXPECT_EQ(static_cast<bool>(out), SUCCEEDED(hr)) << "a name only with success";
    return {hr, out ? std::wstring(out.get()) : L""};
  }
  HRESULT AskAsync(const RecordingWindow& w, const GUID& token, UINT msg, HVDFPASYNCCALL* call,
                   const std::wstring& sid = kAliceSid) {
    return m_api.VDFPTokenIsEnrolledAsync(token, w.hwnd(), msg, sid.c_str(), VDFP_NAME_SID, call);
  }
  static HRESULT ReplyResult(const Posted& p) {
    return reinterpret_cast<const VDFP_ASYNC_ENROLLMENT_REPLY*>(p.lp)->hrResult;
  }
  HRESULT AliceEnrolled(const GUID& token) {
    return m_api.VDFPTokenIsEnrolled(token, kAliceSid.c_str(), VDFP_NAME_SID);
  }

  CVDFPApi m_api{Agent()};
};

// ---- Initialisation and the late host ----------------------------------------------------------

TEST_F(StandinTest, TermOnlyAfterASuccessfulInitAndInitsNest) {
  Install();
  EXPECT_EQ(m_api.VDFPTerm(), VDFP_E_NOT_INITIALIZED);
  ASSERT_EQ(m_api.VDFPInit(), S_OK);
  ASSERT_EQ(m_api.VDFPInit(), S_OK);
  EXPECT_EQ(m_api.VDFPTerm(), S_OK);
  DWORD n = 0;
  EXPECT_EQ(m_api.VDFPEnumerateDevices(&n, nullptr), S_OK) << "one Init is still held";
  EXPECT_EQ(n, 1u);
  EXPECT_EQ(m_api.VDFPTerm(), S_OK);
  EXPECT_EQ(m_api.VDFPTerm(), VDFP_E_NOT_INITIALIZED);
  EXPECT_EQ(m_api.VDFPEnumerateDevices(&n, nullptr), VDFP_E_NOT_INITIALIZED);
}

TEST_F(StandinTest, ALateHostFailsInitUntilItStartsAndThenSignalsItsEvent) {
  Install(LateHost());
  // The agent makes the event first (as its init object does); the host opens it later.
  auto& k = Agent().Kernel();
  platform::UniqueHandle ev(
      k, k.CreateEventW(nullptr, TRUE, FALSE, vdfp_standin::kHostReadyEventName));
  ASSERT_TRUE(ev);
  EXPECT_EQ(m_api.VDFPInit(), VDFP_E_HOST_UNAVAILABLE);
  EXPECT_EQ(m_api.VDFPTerm(), VDFP_E_NOT_INITIALIZED) << "a failed Init holds nothing";

  m_vdfp->StartHostAt(5000);  // the agent's wait on it: VdfpInitTest
  m_machine.AdvanceBy(5000);
  EXPECT_EQ(k.WaitForSingleObject(ev.get(), 0), WAIT_OBJECT_0);
  EXPECT_EQ(m_api.VDFPInit(), S_OK);

  // A host going down again resets its event and its calls fail.
  Host().Stop();
  EXPECT_EQ(k.WaitForSingleObject(ev.get(), 0), WAIT_TIMEOUT);
  DWORD n = 0;
  EXPECT_EQ(m_api.VDFPEnumerateDevices(&n, nullptr), VDFP_E_HOST_UNAVAILABLE);
  EXPECT_EQ(m_api.VDFPTerm(), S_OK);
}

// ---- Reader events -----------------------------------------------------------------------------

TEST_F(StandinTest, AFingerTouchPostsTheReaderEventsToRunningAcquisitionsOnly) {
  Start(ThreeUsers());
  RecordingWindow running(Agent(), VDFP_READER_MESSAGE, VDFP_READER_MESSAGE);
  RecordingWindow stopped(Agent(), VDFP_READER_MESSAGE, VDFP_READER_MESSAGE);
  HVDFPACQUISITION a = Acquire(running);
  HVDFPACQUISITION b = Acquire(stopped);
  ASSERT_EQ(m_api.VDFPStopAcquisition(b), S_OK);

  const VDFP_CAPTURE capture = Host().TouchFinger(L"alice");
  ASSERT_NE(capture, 0u);
  m_machine.RunUntilIdle();
  const UINT m = VDFP_READER_MESSAGE;
  EXPECT_EQ(running.Take(), (std::vector<Posted>{{m, VDFP_WN_FINGER_TOUCHED, 0},
                                                 {m, VDFP_WN_IMAGE_READY, 0},
                                                 {m, VDFP_WN_COMPLETED, LPARAM(capture)}}));
  EXPECT_TRUE(stopped.Take().empty());

  // A stopped acquisition that starts again hears the next finger; a new capture each time.
  ASSERT_EQ(m_api.VDFPStartAcquisition(b), S_OK);
  const VDFP_CAPTURE second = Host().TouchFinger(L"alice");
  EXPECT_NE(second, capture);
  m_machine.RunUntilIdle();
  EXPECT_EQ(stopped.Take().size(), 3u);

  for (HVDFPACQUISITION h : {a, b}) {
    EXPECT_EQ(m_api.VDFPStopAcquisition(h), S_OK);
    EXPECT_EQ(m_api.VDFPDestroyAcquisition(h), S_OK);
  }
  EXPECT_EQ(Host().DestroyedRunningAcquisitions(), 0u);
  EXPECT_EQ(m_api.VDFPStartAcquisition(a), E_HANDLE);
}

TEST_F(StandinTest, CapturesIdentifyInTheOwnersFormatAndOnlyByARightlyFormattedName) {
  Start(ThreeUsers());
  const VDFP_CAPTURE alice = Host().TouchFinger(L"alice");
  const VDFP_CAPTURE bob = Host().TouchFinger(L"bob");  // no fingerprint enrolled
  // A suite account answers in its own format.
  CVDFPString name(m_api);
  DWORD format = 0;
  ASSERT_EQ(m_api.VDFPIdentify(Host().TouchFinger(L"carol"), name.put(), &format), S_OK);
  EXPECT_EQ(std::wstring(name.get()), L"carol@vd");
  EXPECT_EQ(format, DWORD{VDFP_NAME_VD});

  EXPECT_EQ(m_api.VDFPIdentifyUser(alice, kAliceSid.c_str(), VDFP_NAME_SID), S_OK);
  EXPECT_EQ(m_api.VDFPIdentifyUser(bob, L"VDSIM-PC\\bob", VDFP_NAME_SAM), S_FALSE);
  // A name in the wrong format is nobody.
  EXPECT_EQ(m_api.VDFPIdentifyUser(alice, kAliceSam.c_str(), VDFP_NAME_SID), S_FALSE);
}

TEST_F(StandinTest, NoFingerReachesTheAgentWithoutAConnectedReader) {
  Start(ThreeUsers());
  RecordingWindow w(Agent(), VDFP_READER_MESSAGE, VDFP_READER_MESSAGE);
  HVDFPACQUISITION acq = Acquire(w);
  Host().DisconnectReader();
  DWORD n = 7;
  EXPECT_EQ(m_api.VDFPEnumerateDevices(&n, nullptr), S_OK);
  EXPECT_EQ(n, 0u);
  EXPECT_EQ(Host().TouchFinger(L"alice"), 0u);
  Host().DisconnectReader();  // already out: nothing new
  m_machine.RunUntilIdle();
  EXPECT_EQ(w.Take(), (std::vector<Posted>{{VDFP_READER_MESSAGE, VDFP_WN_DISCONNECT, 0}}));

  // The acquisition survives the disconnect and hears the reader come back.
  Host().ReconnectReader();
  Host().TouchFinger(L"alice");
  m_machine.RunUntilIdle();
  const auto seen = w.Take();
  ASSERT_EQ(seen.size(), 4u);
  EXPECT_EQ(seen[0].wp, WPARAM{VDFP_WN_RECONNECT});
  EXPECT_EQ(seen[3].wp, WPARAM{VDFP_WN_COMPLETED});

  EXPECT_EQ(m_api.VDFPEnumerateDevices(&n, nullptr), S_OK);
  EXPECT_EQ(n, 1u);
  EXPECT_EQ(m_api.VDFPStopAcquisition(acq), S_OK);
  EXPECT_EQ(m_api.VDFPDestroyAcquisition(acq), S_OK);
}

TEST_F(StandinTest, TheHostSeesEachAcquisitionsLedAndNotesOneDestroyedRunning) {
  Start();
  RecordingWindow w(Agent(), VDFP_READER_MESSAGE, VDFP_READER_MESSAGE);
  HVDFPACQUISITION acq = Acquire(w);
  EXPECT_EQ(m_api.VDFPSetDeviceLED(acq, VDFP_LED_WAIT_SHORT), S_OK);
  EXPECT_EQ(m_api.VDFPSetDeviceLED(acq, 3), E_INVALIDARG);
  EXPECT_EQ(m_api.VDFPStartAcquisition(acq), S_OK);  // a restart without a stop is allowed
  ASSERT_EQ(Host().Acquisitions().size(), 1u);
  EXPECT_EQ(Host().Acquisitions()[0].led, DWORD{VDFP_LED_WAIT_SHORT});
  EXPECT_EQ(Host().Acquisitions()[0].processId, Agent().Pid());
  // Destroying a running acquisition works but is noted: the contract stops first.
  EXPECT_EQ(m_api.VDFPDestroyAcquisition(acq), S_OK);
  EXPECT_EQ(Host().DestroyedRunningAcquisitions(), 1u);
  EXPECT_TRUE(Host().Acquisitions().empty());
  // Only window delivery is offered.
  HVDFPACQUISITION other = nullptr;
  EXPECT_EQ(m_api.VDFPCreateAcquisition(VDFP_ACQUISITION_PURPOSE_IDENTIFY, GUID{}, 1, w.hwnd(),
                                        VDFP_READER_MESSAGE, &other),
            E_INVALIDARG);
  EXPECT_EQ(other, nullptr);
}

TEST_F(StandinTest, AnUnpluggedReaderIsNotListedAndADisconnectedOneGivesNoInfo) {
  Start(VdfpDescription::FromJson(
      R"({"readers": [{"name": "R1", "reenroll": ["alice"]}, {"name": "R2", "connected": false}]})"));
  DWORD n = 0;
  CVDFPBuffer<VDFP_DEVICE_INFO> devices(m_api);
  ASSERT_EQ(m_api.VDFPEnumerateDevices(&n, devices.put()), S_OK);
  ASSERT_EQ(n, 1u) << "the unplugged reader is not listed";
  CVDFPBuffer<VDFP_DEVICE_USER_INFO_3> info(m_api);
  Host().DisconnectReader(0);
  EXPECT_EQ(m_api.VDFPGetDeviceInfo(devices[0].DeviceId, VDFP_DEVICE_USER_INFO_CLASS,
                                    kAliceSid.c_str(), VDFP_NAME_SID, info.put()),
            VDFP_E_DEVICE_NOT_CONNECTED);
}

TEST_F(StandinTest, AnEndedLibraryHearsNoReaderEvents) {
  Start();
  RecordingWindow w(Agent(), VDFP_READER_MESSAGE, VDFP_READER_MESSAGE);
  Acquire(w);
  ASSERT_EQ(m_api.VDFPTerm(), S_OK);
  Host().TouchFinger(L"alice");
  m_machine.RunUntilIdle();
  EXPECT_TRUE(w.Take().empty());
}

// ---- Names, tokens, authentication ----------------------------------------------------------

TEST_F(StandinTest, NamesTranslateBetweenFormatsWithoutRegardToCase) {
  // Signed-in users carry the SIDs of the machine's sessions, not ones the description derives.
  m_machine.Sessions().CreateSession({.id = 5, .userName = L"bob"});
  Start(VdfpDescription::FromJson(R"({"users": [
      {"name": "alice", "session": 1}, {"name": "bob", "session": 5},
      {"name": "eve", "session": 6, "sid": "S-1-5-21-1-2-3-4444"},
      {"name": "carol", "names": {"VD": "carol@vd", "Display": "Carol C"}}]})"));
  const std::wstring bobSid = m_machine.Sessions().UserSid(5);
  ASSERT_NE(bobSid, vdfp_standin::SessionUserSid(5));
  ASSERT_EQ(m_machine.Sessions().UserSid(1), kAliceSid);
  const struct {
    std::wstring name;
    DWORD from, to;
    HRESULT hr;
    std::wstring out;
  } rows[] = {
      {kAliceSam, VDFP_NAME_SAM, VDFP_NAME_SID, S_OK, kAliceSid},
      {kAliceSid, VDFP_NAME_SID, VDFP_NAME_PRINCIPAL, S_OK, L"alice@vdsim.local"},
      {L"VDSIM-PC\\bob", VDFP_NAME_SAM, VDFP_NAME_SID, S_OK, bobSid},
      {L"VDSIM-PC\\eve", VDFP_NAME_SAM, VDFP_NAME_SID, S_OK, L"S-1-5-21-1-2-3-4444"},
      {L"carol c", VDFP_NAME_DISPLAY, VDFP_NAME_VD, S_OK, L"carol@vd"},
      // A Windows account has no suite name; format 0 is no format; strangers are not mapped.
      {kAliceSam, VDFP_NAME_SAM, VDFP_NAME_VD, VDFP_E_NONE_MAPPED, L""},
      {kAliceSid, VDFP_NAME_SID, 0, E_INVALIDARG, L""},
      {L"VDSIM-PC\\mallory", VDFP_NAME_SAM, VDFP_NAME_SID, VDFP_E_NONE_MAPPED, L""},
  };
  for (const auto& r : rows) {
    SCOPED_TRACE(testing::Message() << r.from << "->" << r.to);
    EXPECT_EQ(Translate(r.name, r.from, r.to), std::make_pair(r.hr, r.out));
  }
}

TEST_F(StandinTest, TokensCarryTheirMaskAtByte256AndEnrollmentFollowsTheHost) {
  Start(ThreeUsers());
  DWORD count = 0;
  CVDFPBuffer<GUID> tokens(m_api);
  ASSERT_EQ(m_api.VDFPTokenEnum(&count, tokens.put()), S_OK);
  ASSERT_EQ(count, 5u);
  std::vector<ULONGLONG> masks;
  for (DWORD i = 0; i < count; ++i) {
    CVDFPBuffer<VDFP_TOKEN_INFO_1> info(m_api);
    ASSERT_EQ(m_api.VDFPTokenGetInfo(tokens[i], VDFP_TOKEN_INFO_CLASS, info.put()), S_OK);
    ULONGLONG mask;
    std::memcpy(&mask, reinterpret_cast<const BYTE*>(info.get()) + 256, sizeof mask);
    masks.push_back(mask);
  }
  EXPECT_EQ(masks, (std::vector<ULONGLONG>{0x1, 0x2, 0x4, 0x20, 0x80}));
  EXPECT_TRUE(tokens[1] == VDFP_TOKEN_FINGERPRINT);

  EXPECT_EQ(AliceEnrolled(VDFP_TOKEN_FINGERPRINT), S_OK);
  EXPECT_EQ(AliceEnrolled(VDFP_TOKEN_SMARTCARD), S_FALSE);
  ASSERT_TRUE(Host().SetEnrolled(L"alice", VDFP_CRED_SMARTCARD, true));
  EXPECT_EQ(AliceEnrolled(VDFP_TOKEN_SMARTCARD), S_OK);
  EXPECT_EQ(AliceEnrolled(VDFP_TOKEN_U2F), VDFP_E_NOT_FOUND);
  CVDFPBuffer<VDFP_TOKEN_INFO_1> none(m_api);
  EXPECT_EQ(m_api.VDFPTokenGetInfo(VDFP_TOKEN_FINGERPRINT, 2, none.put()), E_INVALIDARG);
  EXPECT_FALSE(none);
}

TEST_F(StandinTest, AuthenticationRefusesACutRequestAndAnUnknownUser) {
  Start(ThreeUsers());
  CVDFPAuthentication op(m_api);
  ASSERT_EQ(m_api.VDFPCreateAuthentication(kAliceSam.c_str(), VDFP_NAME_SAM, op.put()), S_OK);
  const auto request = vdfp_standin::EncodeUIntSequence({1, Host().TouchFinger(L"alice")});
  CTokenAuthenticateReply reply;
  EXPECT_EQ(m_api.VDFPTokenAuthenticate(VDFP_TOKEN_FINGERPRINT, op.get(), 3, request.data(),
                                        reply.putSize(), reply.put()),
            E_INVALIDARG);
  EXPECT_EQ(reply.get(), nullptr);
  op.reset();
  EXPECT_EQ(Host().OutstandingAuthentications(), 0u);
  EXPECT_EQ(m_api.VDFPCreateAuthentication(L"VDSIM-PC\\mallory", VDFP_NAME_SAM, op.put()),
            VDFP_E_NO_SUCH_USER);
}

TEST_F(StandinTest, DerOfTheRequestMatchesTheCertificateEncoding) {
  // X509_MULTI_BYTE_UINT keeps values positive: a leading zero when the top bit is set.
  EXPECT_EQ(vdfp_standin::EncodeUIntSequence({1, 0x80}),
            (std::vector<BYTE>{0x30, 0x07, 0x02, 0x01, 0x01, 0x02, 0x02, 0x00, 0x80}));
  EXPECT_EQ(
      vdfp_standin::EncodeUIntSequence({0, 0xFFFFFFFF}),
      (std::vector<BYTE>{0x30, 0x0A, 0x02, 0x01, 0x00, 0x02, 0x05, 0x00, 0xFF, 0xFF, 0xFF, 0xFF}));
  std::vector<DWORD> v;
  const BYTE negative[] = {0x30, 0x03, 0x02, 0x01, 0x80};
  EXPECT_FALSE(vdfp_standin::DecodeUIntSequence(negative, sizeof negative, v));
  const BYTE truncated[] = {0x30, 0x05, 0x02, 0x01, 0x01};
  EXPECT_FALSE(vdfp_standin::DecodeUIntSequence(truncated, sizeof truncated, v));
}

// ---- Asynchronous enrollment queries ------------------------------------------------------------

TEST_F(StandinTest, AsyncEnrollmentRepliesArriveLaterAsTheRequestedMessage) {
  Start(ThreeUsers());  // replies after 50 ms
  constexpr UINT kFirst = WM_USER + 600;
  RecordingWindow w(Agent(), kFirst, kFirst + 99);
  HVDFPASYNCCALL fp = nullptr, card = nullptr, dropped = nullptr;
  ASSERT_EQ(AskAsync(w, VDFP_TOKEN_FINGERPRINT, kFirst + 1, &fp), S_OK);
  ASSERT_EQ(AskAsync(w, VDFP_TOKEN_SMARTCARD, kFirst + 2, &card), S_OK);
  ASSERT_EQ(AskAsync(w, VDFP_TOKEN_PASSWORD, kFirst + 0, &dropped), S_OK);
  EXPECT_EQ(Host().OutstandingAsyncCalls(), 3u);
  // A call dropped before its answer gets none.
  EXPECT_EQ(m_api.VDFPAsyncDestroyCall(dropped), S_OK);
  // The answer is taken when it is sent: an enrollment meanwhile counts.
  Host().SetEnrolled(L"alice", VDFP_CRED_SMARTCARD, true);

  m_machine.AdvanceBy(49);
  EXPECT_TRUE(w.Take().empty());
  m_machine.AdvanceBy(1);
  const auto replies = w.Take();
  ASSERT_EQ(replies.size(), 2u);
  EXPECT_EQ(replies[0].msg, kFirst + 1);
  EXPECT_EQ(replies[0].wp, 0u);
  const auto* r1 = reinterpret_cast<const VDFP_ASYNC_ENROLLMENT_REPLY*>(replies[0].lp);
  EXPECT_TRUE(r1->TokenType == VDFP_TOKEN_FINGERPRINT);
  EXPECT_EQ(ReplyResult(replies[1]), S_OK);

  // The reply stays readable after its call is released.
  EXPECT_EQ(m_api.VDFPAsyncDestroyCall(fp), S_OK);
  EXPECT_EQ(m_api.VDFPAsyncDestroyCall(card), S_OK);
  EXPECT_EQ(r1->hrResult, S_OK);
  EXPECT_EQ(m_api.VDFPAsyncDestroyCall(fp), E_HANDLE);
  EXPECT_EQ(Host().OutstandingAsyncCalls(), 0u);
}

TEST_F(StandinTest, AsyncQueryForAStrangerRepliesWithAFailure) {
  Start(ThreeUsers());
  RecordingWindow w(Agent(), WM_USER + 600, WM_USER + 699);
  HVDFPASYNCCALL call = nullptr;
  ASSERT_EQ(AskAsync(w, VDFP_TOKEN_PASSWORD, WM_USER + 600, &call, L"S-1-5-21-0-0-0-9999"), S_OK);
  m_machine.AdvanceBy(50);
  const auto replies = w.Take();
  ASSERT_EQ(replies.size(), 1u);
  EXPECT_EQ(ReplyResult(replies[0]), VDFP_E_NO_SUCH_USER);
  EXPECT_EQ(m_api.VDFPAsyncDestroyCall(call), S_OK);

  // A library ended before the answer sends none.
  ASSERT_EQ(AskAsync(w, VDFP_TOKEN_PASSWORD, WM_USER + 600, &call), S_OK);
  ASSERT_EQ(m_api.VDFPTerm(), S_OK);
  m_machine.AdvanceBy(50);
  EXPECT_TRUE(w.Take().empty());
  EXPECT_EQ(m_api.VDFPAsyncDestroyCall(call), S_OK);
}

// ---- Policies ----------------------------------------------------------------------------------

TEST_F(StandinTest, UserInfoCarriesThePolicyRules) {
  Start(ThreeUsers());
  CVDFPBuffer<VDFP_USER_INFO_4> info(m_api);
  ASSERT_EQ(m_api.VDFPGetUserInfo(kAliceSid.c_str(), VDFP_NAME_SID, VDFP_USER_INFO_POLICY_CLASS,
                                  info.put()),
            S_OK);
  ASSERT_EQ(info->cRules, 2u);
  EXPECT_EQ(VDFPUserInfoRules(info.get())[0], VDFP_CRED_PASSWORD);
  EXPECT_EQ(VDFPUserInfoRules(info.get())[1], VDFP_CRED_FINGERPRINT);
  ASSERT_EQ(m_api.VDFPGetUserInfo(L"VDSIM-PC\\bob", VDFP_NAME_SAM, VDFP_USER_INFO_POLICY_CLASS,
                                  info.put()),
            S_OK);
  ASSERT_EQ(info->cRules, 1u);
  EXPECT_EQ(VDFPUserInfoRules(info.get())[0], VDFP_CRED_PASSWORD | VDFP_CRED_SMARTCARD);
  EXPECT_EQ(m_api.VDFPGetUserInfo(L"VDSIM-PC\\bob", VDFP_NAME_SAM, 3, info.put()), E_INVALIDARG);
  EXPECT_EQ(Host().CallCount("VDFPGetUserInfo"), 3u);
}

TEST_F(StandinTest, PolicySettingsFillTheItemsAndTheirStringsAreLibraryBuffers) {
  auto d = VdfpDescription::FromJson(R"({"policySettings": [
      {"name": "CredentialsSelfEnrollment", "type": 4, "value": 0, "status": 0},
      {"name": "QuickActions\\Finger", "type": 2, "value": "Lock", "status": 1}]})");
  Start(d);
  VDFP_POLICY_ITEM items[3] = {};
  items[0].pwszName = L"credentialsselfenrollment";
  items[1].pwszName = L"QuickActions\\Finger";
  items[2].pwszName = L"StandaloneMode";
  ASSERT_EQ(m_api.VDFPGetPolicySettingsEx(3, items), S_OK);
  EXPECT_EQ(items[0].hrStatus, S_OK);
  EXPECT_EQ(items[0].Value.VarType, DWORD{VDVAR_UINT32});
  EXPECT_EQ(items[0].Value.ulVal, 0u);
  EXPECT_EQ(items[1].hrStatus, S_FALSE);
  ASSERT_EQ(items[1].Value.VarType, DWORD{VDVAR_STRING});
  EXPECT_EQ(std::wstring(items[1].Value.pwszVal), L"Lock");
  EXPECT_EQ(items[2].hrStatus, HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND));
  EXPECT_EQ(Host().Buffers().Outstanding(), 1u);
  m_api.VDFPBufferFree(items[1].Value.pwszVal);
  EXPECT_EQ(m_api.VDFPGetPolicySettingsEx(0, items), E_INVALIDARG);
}

// ---- Buffers ------------------------------------------------------------------------------------

TEST_F(StandinTest, OwnersGiveBuffersBackOnEveryPath) {
  Start(ThreeUsers());
  const VDFP_CAPTURE capture = Host().TouchFinger(L"alice");
  // A caller that fails half-way: the exception unwinds through the owners.
  try {
    CVDFPString name(m_api);
    DWORD format = 0;
    ThrowIfFailed(m_api.VDFPIdentify(capture, name.put(), &format));
    CVDFPBuffer<VDFP_USER_INFO_4> info(m_api);
    ThrowIfFailed(
        m_api.VDFPGetUserInfo(name.get(), format, VDFP_USER_INFO_POLICY_CLASS, info.put()));
    EXPECT_EQ(Host().Buffers().Outstanding(), 2u);
    CVDFPString suiteName(m_api);
    ThrowIfFailed(m_api.VDFPTranslateName(name.get(), format, VDFP_NAME_VD, suiteName.put()));
    ADD_FAILURE() << "alice has no suite name";
  } catch (const CResultError& e) {
    EXPECT_EQ(e.Result(), VDFP_E_NONE_MAPPED);
  }
  EXPECT_EQ(Host().Buffers().Outstanding(), 0u);

  // Reusing an owner for a second call gives the first buffer back; moving hands it over.
  CVDFPString s(m_api);
  ASSERT_EQ(m_api.VDFPTranslateName(kAliceSam.c_str(), VDFP_NAME_SAM, VDFP_NAME_SID, s.put()),
            S_OK);
  ASSERT_EQ(m_api.VDFPTranslateName(kAliceSam.c_str(), VDFP_NAME_SAM, VDFP_NAME_UID, s.put()),
            S_OK);
  EXPECT_EQ(Host().Buffers().Outstanding(), 1u);
  CVDFPString moved = std::move(s);
  EXPECT_FALSE(s);
  moved.reset();
  EXPECT_EQ(Host().Buffers().Outstanding(), 0u);
  EXPECT_GT(Host().Buffers().TotalAllocations(), 3u);
}

TEST_F(StandinTest, TheLeakCheckNamesABufferNotGivenBackAndCountsDoubleFrees) {
  Start();
  CVDFPString s(m_api);
  ASSERT_EQ(m_api.VDFPTranslateName(kAliceSam.c_str(), VDFP_NAME_SAM, VDFP_NAME_SID, s.put()),
            S_OK);
  LPWSTR leaked = s.release();
  EXPECT_EQ(Host().Buffers().OutstandingTags(), (std::vector<std::string>{"VDFPTranslateName"}));
  m_api.VDFPBufferFree(leaked);
  EXPECT_EQ(Host().Buffers().Outstanding(), 0u);
  m_api.VDFPBufferFree(leaked);  // the second time is a caller's fault, and harmless
  EXPECT_EQ(Host().Buffers().InvalidFrees(), 1u);
  // Accounted: the tear-down check must not report it again.
  m_vdfp.reset();
}

// ---- The settings reader's binding -------------------------------------------------------------

TEST_F(StandinTest, ApiWrBalancesItsOwnInitOnly) {
  Install();
  {
    CVDFPApiWr wr(Agent());
    EXPECT_EQ(wr.InitResult(), S_OK);
    EXPECT_EQ(m_vdfp->ClientOf(Agent().Pid())->InitCount(), 1);
    VDFP_POLICY_ITEM item{};
    item.pwszName = L"StandaloneMode";
    EXPECT_EQ(wr.VDFPGetPolicySettingsEx(1, &item), S_OK);
    EXPECT_LT(item.hrStatus, 0);
    LPVOID p = wr.VDFPBufferAlloc(8);
    ASSERT_NE(p, nullptr);
    wr.VDFPBufferFree(p);
  }
  EXPECT_EQ(m_vdfp->ClientOf(Agent().Pid())->InitCount(), 0);
  EXPECT_EQ(Host().CallCount("VDFPTerm"), 1u);

  // With the host down its Init fails, and its end does not take an Init it never got.
  Host().Stop();
  {
    CVDFPApiWr wr(Agent());
    EXPECT_EQ(wr.InitResult(), VDFP_E_HOST_UNAVAILABLE);
  }
  EXPECT_EQ(Host().CallCount("VDFPTerm"), 1u);
}

TEST_F(StandinTest, ApiWrWithoutTheLibraryOrItsPolicyQueryReportsNotImplemented) {
  VDFP_POLICY_ITEM item{};
  item.pwszName = L"StandaloneMode";
  {
    CVDFPApiWr wr(Agent());  // nothing installed yet
    EXPECT_EQ(wr.InitResult(), E_NOTIMPL);
    EXPECT_EQ(wr.VDFPGetPolicySettingsEx(1, &item), E_NOTIMPL);
  }
  Install(VdfpDescription::Default(),
          {.missingExports = {"VDFPGetPolicySettingsEx", "VDFPBufferAlloc"}});
  CVDFPApiWr wr(Agent());
  EXPECT_EQ(wr.InitResult(), S_OK);
  EXPECT_EQ(wr.VDFPGetPolicySettingsEx(1, &item), E_NOTIMPL);
  EXPECT_EQ(wr.VDFPBufferAlloc(8), nullptr);
}

// ---- The machine description -------------------------------------------------------------------

TEST(VdfpDescriptionTest, JsonOverridesTheDefaultsAndDerivesNames) {
  const auto d = VdfpDescription::FromJson(R"({
    "computerName": "KIOSK-7",
    "users": [{"name": "dave", "session": 3, "enrolled": "0x82", "policy": ["PIN code"]}],
    "defaultPolicy": [],
    "readers": [{"connected": false}],
    "dialogs": {"identify": null, "verify": false}
  })");
  ASSERT_EQ(d.users.size(), 1u);
  EXPECT_EQ(d.users[0].sid, L"S-1-5-21-3623811015-3361044348-30300820-1003");
  EXPECT_EQ(d.users[0].names.at(VDFP_NAME_SAM), L"KIOSK-7\\dave");
  EXPECT_EQ(d.users[0].names.at(VDFP_NAME_SID), d.users[0].sid);
  EXPECT_EQ(d.users[0].names.count(VDFP_NAME_VD), 0u);
  EXPECT_EQ(d.users[0].enrolled, 0x82u);
  EXPECT_EQ(d.users[0].policy, (std::vector<ULONGLONG>{0x80}));
  EXPECT_TRUE(d.defaultPolicy.empty());
  ASSERT_EQ(d.readers.size(), 1u);
  EXPECT_FALSE(d.readers[0].connected);
  EXPECT_TRUE(d.dialogs.identifyUser.empty());
  EXPECT_FALSE(d.dialogs.verifyAccepts);
  // Untouched parts keep the default machine's.
  EXPECT_EQ(d.tokens.size(), 5u);
  ASSERT_EQ(d.domains.size(), 1u);
  EXPECT_TRUE(d.hostRunning);
}

// The message a refused description gives, or "accepted".
std::string Refusal(const std::string& json) {
  try {
    VdfpDescription::FromJson(json);
  } catch (const vdfp_standin::DescriptionError& e) {
    return e.what();
  }
  return "accepted";
}

// One policy setting whose value is an array nesting `levels` values (1: a plain number).
std::string NestedPolicy(int levels) {
  std::string s = R"({"policySettings": [{"name": "Deep", )";
  for (int i = 1; i < levels; ++i) s += R"("type": 11, "items": [{)";
  s += R"("type": 4, "value": 7})";
  for (int i = 1; i < levels; ++i) s += "]}";
  return s + "]}";
}

TEST(VdfpDescriptionTest, PolicyValuesNestAtMost64Levels) {
  const auto d = VdfpDescription::FromJson(NestedPolicy(64));
  ASSERT_EQ(d.policySettings.size(), 1u);
  const vdfp_standin::PolicyValue* v = &d.policySettings[0].value;
  for (int level = 1; level < 64; ++level) {
    ASSERT_EQ(v->items.size(), 1u) << level;
    v = &v->items[0];
  }
  EXPECT_EQ(v->number, 7u);

  EXPECT_NE(Refusal(NestedPolicy(65)).find("\"Deep\": policy nested deeper than 64 levels"),
            std::string::npos);
  // Deep enough to overflow any stack by recursion: refused, not a crash.
  EXPECT_NE(Refusal(NestedPolicy(100000)).find("nested deeper"), std::string::npos);
}

TEST(VdfpDescriptionTest, MalformedDescriptionsAndNumbersOutOfRangeAreRefusedByName) {
  const std::pair<const char*, const char*> refused[] = {
      // Not a description at all, or a field that is not what it must be: refused, any text.
      {"{", ""},
      {"[]", ""},
      {R"({"users": [{"name": "x", "enrolled": "Finger"}]})", ""},
      {R"({"users": [{"sid": "S-1"}]})", ""},
      {R"({"tokens": [{"name": "X", "guid": "nope"}]})", ""},
      {R"({"protectedData": [{"slot": "S", "hex": "123"}]})", ""},
      {R"({"users": [{"name": "x", "session": 1e30}]})", R"("session": 1e+30 is out of range)"},
      {R"({"users": [{"name": "x", "session": -1}]})", R"("session": -1 is out of range)"},
      {R"({"users": [{"name": "x", "session": 1.5}]})", R"("session": 1.5 is out of range)"},
      {R"({"users": [{"name": "x", "session": 65536}]})", R"("session": 65536 is out)"},
      {R"({"users": [{"name": "x", "session": "1"}]})", R"("session": a number was expected)"},
      {R"({"host": {"asyncReplyDelayMs": 18446744073709551615}})",
       R"("asyncReplyDelayMs": 18446744073709551615 is out of range)"},
      {R"({"host": {"asyncReplyDelayMs": 86400001}})", R"("asyncReplyDelayMs": 86400001 is out)"},
      {R"({"tokens": [{"name": "Badge", "mask": -4096}]})", R"("mask": -4096 is out)"},
      {R"({"tokens": [{"name": "Badge", "mask": 1, "maxEnrollments": -1}]})",
       R"("maxEnrollments": -1 is out)"},
      {R"({"users": [{"name": "x", "enrolled": [2.5]}]})", R"("enrolled": 2.5 is out)"},
      {R"({"users": [{"name": "x", "policy": [-1]}]})", R"("policy": -1 is out)"},
      {R"({"domains": [{"name": "OS", "state": 4294967296}]})", R"("state": 4294967296 is out)"},
      {R"({"readers": [{"connected": 1}]})", R"("connected": true or false was expected)"},
      {R"({"policySettings": [{"name": "P", "type": -1}]})", R"("type": -1 is out)"},
      {R"({"policySettings": [{"name": "P", "type": 3, "value": 2147483648}]})",
       R"("value": 2147483648 is out of range (a whole number from -2147483648 to 2147483647))"},
      {R"({"policySettings": [{"name": "P", "type": 4, "value": -1}]})", R"("value": -1 is out)"},
      {R"({"policySettings": [{"name": "P", "type": 9, "value": 9223372036854775808}]})",
       R"("value": 9223372036854775808 is out)"},
      {R"({"policySettings": [{"name": "P", "type": 9, "value": 18446744073709551615}]})",
       R"("value": 18446744073709551615 is out)"},
      {R"({"policySettings": [{"name": "P", "type": 1, "value": 2}]})", R"("value": 2 is out)"},
      {R"({"policySettings": [{"name": "P", "type": 4, "value": 1, "status": 4294967296}]})",
       R"("status": 4294967296 is out)"},
  };
  for (const auto& [json, message] : refused) {
    const std::string why = Refusal(json);
    EXPECT_NE(why, "accepted") << json;
    EXPECT_NE(why.find(message), std::string::npos) << json << "\n" << why;
  }

  // The ends of each range are taken, and mean what they say.
  const auto d = VdfpDescription::FromJson(R"({
    "host": {"asyncReplyDelayMs": 86400000},
    "users": [{"name": "x", "session": 65535, "enrolled": 18446744073709551615}],
    "policySettings": [
      {"name": "I32", "type": 3, "value": -2147483648, "status": 2147942402},
      {"name": "I64", "type": 9, "value": -9223372036854775808, "status": -2147024894},
      {"name": "U64", "type": 10, "value": 18446744073709551615}]})");
  EXPECT_EQ(d.asyncReplyDelayMs, 86400000u);
  EXPECT_EQ(d.users[0].session, 65535u);
  EXPECT_EQ(d.users[0].enrolled, ~0ull);
  EXPECT_EQ(static_cast<LONGLONG>(d.policySettings[0].value.number), -2147483648ll);
  EXPECT_EQ(d.policySettings[0].status, HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND));
  EXPECT_EQ(d.policySettings[1].value.number, 1ull << 63);
  EXPECT_EQ(d.policySettings[1].status, HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND));
  EXPECT_EQ(d.policySettings[2].value.number, ~0ull);
}

TEST(VdfpDescriptionTest, DescriptionFilesAreReadUpToTheirBound) {
  using vdfp_standin::kMaxDescriptionBytes;
  const auto path = std::filesystem::temp_directory_path() /
                    ("vdfp-description-" + std::to_string(::getpid()) + ".json");
  auto write = [&](std::size_t bytes) {
    std::string text = R"({"computerName": "BIG"})";
    text.resize(bytes, ' ');
    std::ofstream(path, std::ios::binary) << text;
  };
  write(kMaxDescriptionBytes);
  EXPECT_EQ(VdfpDescription::FromFile(path.string()).computerName, L"BIG");
  write(kMaxDescriptionBytes + 1);
  EXPECT_THROW(VdfpDescription::FromFile(path.string()), vdfp_standin::DescriptionError);
  std::filesystem::remove(path);
  // A device without an end, and a file that is not there: each a message naming it.
  for (const std::string& name : {std::string("/dev/zero"), path.string()}) {
    try {
      vdfp_standin::ReadDescriptionText(name);
      ADD_FAILURE() << name << " was read";
    } catch (const vdfp_standin::DescriptionError& e) {
      EXPECT_NE(std::string(e.what()).find(name), std::string::npos) << e.what();
    }
  }
}

}  // namespace
