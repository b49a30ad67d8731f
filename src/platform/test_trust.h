// Wine shows every file and folder as the running user's, so that no
// folder there passes the trust rule of Administrators, SYSTEM and
// TrustedInstaller. The test-only build of the installer may count the
// running user as trusted too, when QUORVEX_TRUST_RUNNING_USER is set; the
// shipped programs never do.
#pragma once

bool TestBuildTrustsRunningUser();
