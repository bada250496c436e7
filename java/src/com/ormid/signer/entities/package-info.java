/**
 * Plain records the library fills (key stores, keys, certificates, host facts) or reads (documents
 * to sign and their signed attributes). Their fields are public and set or read by the library
 * directly.
 */
package com.ormid.signer.entities;
