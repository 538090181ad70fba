-- A station PC's records database at schema version 2, as the tool wrote it
-- before every time had one representation (run with TZ=Europe/Berlin):
--   quorlex-bms-cli station import RESULTS   seven records: starts at +01:00,
--       in UTC (Z), at -05:00 late in the local day, at +02:00 and +01:00 on
--       either side of the end of summer time (the later run reads earlier),
--       at +05:30, one without seconds; an end that is absent, one that is
--       no time ("later")
--   records_child reserve station.db QX20261209 3    three serial numbers,
--       given back when the next start found their process gone
--   quorlex-bms-cli station serials --db <a server that does not answer>
-- then `sqlite3 station.db .dump`. Its own times (stored_at, changed_at,
-- applied_at, station_state) are local time without an offset.
PRAGMA foreign_keys=OFF;
BEGIN TRANSACTION;
CREATE TABLE schema_migrations ( version INTEGER PRIMARY KEY, applied_at TEXT NOT NULL);
INSERT INTO schema_migrations VALUES(1,'2026-12-10T03:03:17.145');
INSERT INTO schema_migrations VALUES(2,'2026-12-10T03:03:17.148');
CREATE TABLE runs ( run_id TEXT PRIMARY KEY, station_id TEXT NOT NULL, fixture TEXT, operator TEXT, tool_version TEXT, recipe_name TEXT, recipe_version TEXT, recipe_sha256 TEXT, product TEXT, barcode TEXT, uid TEXT, serial_number TEXT, outcome TEXT NOT NULL, failure_code TEXT, retest INTEGER NOT NULL, started_at TEXT NOT NULL, started_ms BIGINT NOT NULL, day TEXT NOT NULL, ended_at TEXT, duration_s DOUBLE PRECISION, header TEXT NOT NULL, stored_at TEXT NOT NULL);
INSERT INTO runs VALUES('33b9b908-755d-5f33-b35e-8f54e5415071','EOL-1','1','anna','1.0.0','Q16-EOL','3',NULL,'Q-Serial','QB1',NULL,'QX00001','PASS',NULL,0,'2026-12-09T14:03:11.204+01:00',1796821391204,'2026-12-09','2026-12-09T14:04:02.877+01:00',51.67300000000000182,'{"duration_s":51.673,"ended_at":"2026-12-09T14:04:02.877+01:00","failure_code":null,"fixture":"1","format":"quorlex-station-record/1","operator":"anna","outcome":"PASS","pack":{"barcode":"QB1","serial_number":"QX00001"},"recipe":{"name":"Q16-EOL","product":"Q-Serial","version":"3"},"retest":false,"run_id":"33b9b908-755d-5f33-b35e-8f54e5415071","started_at":"2026-12-09T14:03:11.204+01:00","station_id":"EOL-1","tool_version":"1.0.0"}','2026-12-10T03:03:17.156');
INSERT INTO runs VALUES('76459d7a-d50f-5cf2-af3c-fdce43d38048','EOL-1','1','anna','1.0.0','Q16-EOL','3',NULL,'Q-Serial','QB2',NULL,'QX00002','FAIL','check.cell_spread',0,'2026-12-09T23:59:59.999Z',1796860799999,'2026-12-09','2026-12-10T00:00:51.672Z',51.67300000000000182,'{"duration_s":51.673,"ended_at":"2026-12-10T00:00:51.672Z","failure_code":"check.cell_spread","fixture":"1","format":"quorlex-station-record/1","operator":"anna","outcome":"FAIL","pack":{"barcode":"QB2","serial_number":"QX00002"},"recipe":{"name":"Q16-EOL","product":"Q-Serial","version":"3"},"retest":false,"run_id":"76459d7a-d50f-5cf2-af3c-fdce43d38048","started_at":"2026-12-09T23:59:59.999Z","station_id":"EOL-1","tool_version":"1.0.0"}','2026-12-10T03:03:17.159');
INSERT INTO runs VALUES('b68c3f74-7764-5bcd-82af-ada961342f20','EOL-1','1','anna','1.0.0','Q16-EOL','3',NULL,'Q-Serial','QB3',NULL,'QX00003','PASS',NULL,0,'2026-12-09T22:30:00.000-05:00',1796873400000,'2026-12-09','2026-12-09T22:30:51.673-05:00',51.67300000000000182,'{"duration_s":51.673,"ended_at":"2026-12-09T22:30:51.673-05:00","failure_code":null,"fixture":"1","format":"quorlex-station-record/1","operator":"anna","outcome":"PASS","pack":{"barcode":"QB3","serial_number":"QX00003"},"recipe":{"name":"Q16-EOL","product":"Q-Serial","version":"3"},"retest":false,"run_id":"b68c3f74-7764-5bcd-82af-ada961342f20","started_at":"2026-12-09T22:30:00.000-05:00","station_id":"EOL-1","tool_version":"1.0.0"}','2026-12-10T03:03:17.163');
INSERT INTO runs VALUES('3fe4f3e8-c6b5-5446-af44-5fa6e1147081','EOL-1','1','anna','1.0.0','Q16-EOL','3',NULL,'Q-Serial','QB4',NULL,'QX00004','FAIL','check.cell_spread',0,'2026-10-25T02:30:00.500+02:00',1792888200500,'2026-10-25','2026-10-25T02:30:52.173+02:00',51.67300000000000182,'{"duration_s":51.673,"ended_at":"2026-10-25T02:30:52.173+02:00","failure_code":"check.cell_spread","fixture":"1","format":"quorlex-station-record/1","operator":"anna","outcome":"FAIL","pack":{"barcode":"QB4","serial_number":"QX00004"},"recipe":{"name":"Q16-EOL","product":"Q-Serial","version":"3"},"retest":false,"run_id":"3fe4f3e8-c6b5-5446-af44-5fa6e1147081","started_at":"2026-10-25T02:30:00.500+02:00","station_id":"EOL-1","tool_version":"1.0.0"}','2026-12-10T03:03:17.164');
INSERT INTO runs VALUES('85bbbc32-7bbc-56dc-9d15-c583844edd73','EOL-1','1','anna','1.0.0','Q16-EOL','3',NULL,'Q-Serial','QB4',NULL,'QX00005','PASS',NULL,0,'2026-10-25T02:10:00.250+01:00',1792890600250,'2026-10-25',NULL,51.67300000000000182,'{"duration_s":51.673,"failure_code":null,"fixture":"1","format":"quorlex-station-record/1","operator":"anna","outcome":"PASS","pack":{"barcode":"QB4","serial_number":"QX00005"},"recipe":{"name":"Q16-EOL","product":"Q-Serial","version":"3"},"retest":false,"run_id":"85bbbc32-7bbc-56dc-9d15-c583844edd73","started_at":"2026-10-25T02:10:00.250+01:00","station_id":"EOL-1","tool_version":"1.0.0"}','2026-12-10T03:03:17.166');
INSERT INTO runs VALUES('e13f11cc-a220-5329-b512-49dafbeb0990','EOL-2','1','anna','1.0.0','Q16-EOL','3',NULL,'Q-Serial','QB6',NULL,'QX00006','ERROR','check.cell_spread',0,'2026-12-10T06:45:30.001+05:30',1796865330001,'2026-12-10','later',51.67300000000000182,'{"duration_s":51.673,"ended_at":"later","failure_code":"check.cell_spread","fixture":"1","format":"quorlex-station-record/1","operator":"anna","outcome":"ERROR","pack":{"barcode":"QB6","serial_number":"QX00006"},"recipe":{"name":"Q16-EOL","product":"Q-Serial","version":"3"},"retest":false,"run_id":"e13f11cc-a220-5329-b512-49dafbeb0990","started_at":"2026-12-10T06:45:30.001+05:30","station_id":"EOL-2","tool_version":"1.0.0"}','2026-12-10T03:03:17.167');
INSERT INTO runs VALUES('646f860e-fc22-5e7a-b987-b5d93688957a','EOL-1','1','anna','1.0.0','Q16-EOL','3',NULL,'Q-Serial','QB7',NULL,'QX00007','PASS',NULL,0,'2026-12-11T08:15+01:00',1796973300000,'2026-12-11','2026-12-11T08:16:00.000+01:00',51.67300000000000182,'{"duration_s":51.673,"ended_at":"2026-12-11T08:16:00.000+01:00","failure_code":null,"fixture":"1","format":"quorlex-station-record/1","operator":"anna","outcome":"PASS","pack":{"barcode":"QB7","serial_number":"QX00007"},"recipe":{"name":"Q16-EOL","product":"Q-Serial","version":"3"},"retest":false,"run_id":"646f860e-fc22-5e7a-b987-b5d93688957a","started_at":"2026-12-11T08:15+01:00","station_id":"EOL-1","tool_version":"1.0.0"}','2026-12-10T03:03:17.169');
CREATE TABLE steps ( run_id TEXT NOT NULL REFERENCES runs (run_id), seq INTEGER NOT NULL, step_index INTEGER, name TEXT, kind TEXT, outcome TEXT, started_at TEXT, ended_at TEXT, retries INTEGER, reason TEXT, extra TEXT, PRIMARY KEY (run_id, seq));
INSERT INTO steps VALUES('33b9b908-755d-5f33-b35e-8f54e5415071',0,0,'check','check','PASS','2026-12-09T14:03:11.204+01:00','2026-12-09T14:04:02.877+01:00',0,'',NULL);
INSERT INTO steps VALUES('76459d7a-d50f-5cf2-af3c-fdce43d38048',0,0,'check','check','FAIL','2026-12-09T23:59:59.999Z','2026-12-10T00:00:51.672Z',0,'',NULL);
INSERT INTO steps VALUES('b68c3f74-7764-5bcd-82af-ada961342f20',0,0,'check','check','PASS','2026-12-09T22:30:00.000-05:00','2026-12-09T22:30:51.673-05:00',0,'',NULL);
INSERT INTO steps VALUES('3fe4f3e8-c6b5-5446-af44-5fa6e1147081',0,0,'check','check','FAIL','2026-10-25T02:30:00.500+02:00','2026-10-25T02:30:52.173+02:00',0,'',NULL);
INSERT INTO steps VALUES('85bbbc32-7bbc-56dc-9d15-c583844edd73',0,0,'check','check','PASS','2026-10-25T02:10:00.250+01:00',NULL,0,'','{"ended_at":null}');
INSERT INTO steps VALUES('e13f11cc-a220-5329-b512-49dafbeb0990',0,0,'check','check','ERROR','2026-12-10T06:45:30.001+05:30','later',0,'',NULL);
INSERT INTO steps VALUES('646f860e-fc22-5e7a-b987-b5d93688957a',0,0,'check','check','PASS','2026-12-11T08:15+01:00','2026-12-11T08:16:00.000+01:00',0,'',NULL);
CREATE TABLE measurements ( run_id TEXT NOT NULL REFERENCES runs (run_id), seq INTEGER NOT NULL, step INTEGER, name TEXT NOT NULL, value_num DOUBLE PRECISION, value_text TEXT, unit TEXT, limits TEXT, outcome TEXT, extra TEXT, PRIMARY KEY (run_id, seq));
INSERT INTO measurements VALUES('33b9b908-755d-5f33-b35e-8f54e5415071',0,0,'cell_spread',12.0,NULL,'mV',NULL,'PASS',NULL);
INSERT INTO measurements VALUES('76459d7a-d50f-5cf2-af3c-fdce43d38048',0,0,'cell_spread',12.0,NULL,'mV',NULL,'FAIL',NULL);
INSERT INTO measurements VALUES('b68c3f74-7764-5bcd-82af-ada961342f20',0,0,'cell_spread',12.0,NULL,'mV',NULL,'PASS',NULL);
INSERT INTO measurements VALUES('3fe4f3e8-c6b5-5446-af44-5fa6e1147081',0,0,'cell_spread',12.0,NULL,'mV',NULL,'FAIL',NULL);
INSERT INTO measurements VALUES('85bbbc32-7bbc-56dc-9d15-c583844edd73',0,0,'cell_spread',12.0,NULL,'mV',NULL,'PASS',NULL);
INSERT INTO measurements VALUES('e13f11cc-a220-5329-b512-49dafbeb0990',0,0,'cell_spread',12.0,NULL,'mV',NULL,'INFO',NULL);
INSERT INTO measurements VALUES('646f860e-fc22-5e7a-b987-b5d93688957a',0,0,'cell_spread',12.0,NULL,'mV',NULL,'PASS',NULL);
CREATE TABLE attachments ( run_id TEXT NOT NULL REFERENCES runs (run_id), name TEXT NOT NULL, meta TEXT NOT NULL, data BLOB, PRIMARY KEY (run_id, name));
INSERT INTO attachments VALUES('33b9b908-755d-5f33-b35e-8f54e5415071','trace','{"bytes":40,"encoding":"zlib+base64","frames":2}',X'000102030405060708090a0b0c0d0e0f');
CREATE TABLE serial_sequences ( key TEXT PRIMARY KEY, next_number BIGINT NOT NULL);
INSERT INTO serial_sequences VALUES('QX20261209',4);
CREATE TABLE serial_numbers ( key TEXT NOT NULL, number BIGINT NOT NULL, run_id TEXT NOT NULL, state TEXT NOT NULL, changed_at TEXT NOT NULL, value TEXT, barcode TEXT, uid TEXT, holder TEXT, origin TEXT, synced INTEGER NOT NULL DEFAULT 1, PRIMARY KEY (key, number));
INSERT INTO serial_numbers VALUES('QX20261209',1,'64f352e0-71b0-4b94-b96a-0af767947734','released','2026-12-10T03:03:17.270',NULL,NULL,NULL,NULL,'local',0);
INSERT INTO serial_numbers VALUES('QX20261209',2,'ec09a398-7732-4608-92dd-d5b3207f72de','released','2026-12-10T03:03:17.283',NULL,NULL,NULL,NULL,'local',0);
INSERT INTO serial_numbers VALUES('QX20261209',3,'3b15c569-e6c5-4ed7-ad8f-05bc603c3b9f','released','2026-12-10T03:03:17.287',NULL,NULL,NULL,NULL,'local',0);
CREATE TABLE forward_queue ( run_id TEXT PRIMARY KEY REFERENCES runs (run_id), queued_ms BIGINT NOT NULL, attempts INTEGER NOT NULL, next_ms BIGINT NOT NULL, last_error TEXT);
INSERT INTO forward_queue VALUES('33b9b908-755d-5f33-b35e-8f54e5415071',1796868197156,0,0,NULL);
INSERT INTO forward_queue VALUES('76459d7a-d50f-5cf2-af3c-fdce43d38048',1796868197159,0,0,NULL);
INSERT INTO forward_queue VALUES('b68c3f74-7764-5bcd-82af-ada961342f20',1796868197163,0,0,NULL);
INSERT INTO forward_queue VALUES('3fe4f3e8-c6b5-5446-af44-5fa6e1147081',1796868197164,0,0,NULL);
INSERT INTO forward_queue VALUES('85bbbc32-7bbc-56dc-9d15-c583844edd73',1796868197166,0,0,NULL);
INSERT INTO forward_queue VALUES('e13f11cc-a220-5329-b512-49dafbeb0990',1796868197167,0,0,NULL);
INSERT INTO forward_queue VALUES('646f860e-fc22-5e7a-b987-b5d93688957a',1796868197169,0,0,NULL);
CREATE TABLE serial_pools ( key TEXT PRIMARY KEY, day TEXT, block INTEGER NOT NULL, wanted_ms BIGINT NOT NULL);
CREATE TABLE station_state ( name TEXT PRIMARY KEY, value TEXT NOT NULL);
INSERT INTO station_state VALUES('line_unreachable_since','2026-12-10T03:03:17.292');
INSERT INTO station_state VALUES('line_failed_at','2026-12-10T03:03:17.292');
CREATE INDEX runs_barcode ON runs (barcode, started_ms);
CREATE INDEX runs_uid ON runs (uid, started_ms);
CREATE INDEX runs_serial ON runs (serial_number, started_ms);
CREATE INDEX runs_started ON runs (started_ms);
CREATE INDEX runs_recipe ON runs (recipe_name, started_ms);
CREATE INDEX runs_station_barcode ON runs (station_id, barcode, started_ms);
CREATE INDEX serial_numbers_state ON serial_numbers (key, state, number);
CREATE INDEX forward_queue_due ON forward_queue (next_ms);
CREATE INDEX serial_numbers_barcode ON serial_numbers (barcode, changed_at);
COMMIT;
