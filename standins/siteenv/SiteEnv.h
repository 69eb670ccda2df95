// Site environment: the site's own settings, such as its unit identity.
//
// This library stands in for the site's environment service. It reads
// "<site dir>siteenv.cfg" (Ice property syntax, for example
// "Audit.Unit.Identity=4401020001"), where the site directory is
// $TESSEL_HOME or, when that is unset, the host executable's directory.
#ifndef TESSEL_STANDINS_SITEENV_H
#define TESSEL_STANDINS_SITEENV_H

extern "C" {

// Loads the site's settings. 0 on success; nonzero when siteenv.cfg is
// missing or cannot be read.
int SiteEnv_Init();

// Forgets the settings loaded by SiteEnv_Init.
void SiteEnv_Release();

// Copies the value of `key` into `buffer` (*length bytes) with its NUL and
// stores its length in *length. 0 on success; nonzero when the environment is
// not loaded, the key is absent, an argument is null or the value does not fit.
int SiteEnv_QueryValue(const char* key, char* buffer, int* length);

}

#endif
