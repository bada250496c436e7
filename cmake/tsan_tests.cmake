# The tests that run threads against each other, by test program: under
# ORMID_TSAN a program listed here runs only these cases (the rest of it has
# no threads to check and would only cost time under ThreadSanitizer).
# scripts/test runs these programs in its TSan stage.
set(ORMID_TSAN_FILTER_base_tests "ParallelHex.*:LogFile.ThreadsWriteWholeLines:MonotonicConditionTest.*")
set(ORMID_TSAN_FILTER_jni_tests "SessionsTest.*:KeyPressSeeding.*")
set(ORMID_TSAN_FILTER_cp_core_tests "DigestEngineBase.*:KeyRecord.CertificateReplacedWhileOtherThreadsReadIt")
set(ORMID_TSAN_FILTER_pcsc_apdu_tests "CallWithin.*")
set(ORMID_TSAN_FILTER_pcsc_reader_tests "Transactions.*")
set(ORMID_TSAN_FILTER_pcsc_timeout_tests "ConnectionTurns.*")
set(ORMID_TSAN_FILTER_pkcs11_module_tests
    "ModuleTest.CacheIsSafeUnderConcurrentUse:ModuleTest.TwoTokensOfOneModuleSignFromTwoThreads:ModuleTest.OneTokenDigestEngineUsedFromSeveralThreads")
set(ORMID_TSAN_FILTER_lab_token_tests
    "LatencyTest.TokensWaitInParallelAndOneTokenOneCommandAtATime:OperationsTest.ALargeDigestPartHoldsUpNoCallForAnotherSession")
set(ORMID_TSAN_FILTER_pkcs11_token_tests "StoreTest.ThreadsSharingATokenKeepItsRecordsWhole")
set(ORMID_TSAN_FILTER_capi_lab_tests "CspLoaderDeathTest.*")
set(ORMID_TSAN_FILTER_cp_provider_csp_tests "CspProvider.ThreadsSignAndListWithOneContainerAtOnce")
set(ORMID_TSAN_FILTER_cp_provider_confirmation_tests
    "ConfirmationLab.TwoThreadsNeverInterleaveTheirSessions:ConfirmationLab.ASelectionWaitingForAMuteCardHoldsUpNoOtherSession")
