/**
 * The command-line signer and diagnostics tool of the signer jar ({@code java -jar ormid-signer.jar --help}):
 * lists the crypto means, key stores and keys, signs files as CMS, verifies signatures, confirms on the
 * confirmation token and hashes files, all through the library's Java API.
 */
package com.ormid.signer.cli;
