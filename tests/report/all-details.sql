-- What the catalogue says beyond the column types, for the Markdown and JSON golden files.
CREATE TABLE details (
  `id` int unsigned NOT NULL AUTO_INCREMENT COMMENT 'the key',
  `code` char(4) NOT NULL,
  `no_default` varchar(10) NOT NULL,
  `null_default` varchar(10) DEFAULT NULL,
  `text_null` varchar(10) DEFAULT 'NULL',
  `quoted` varchar(10) DEFAULT 'it''s',
  `empty_text` varchar(10) NOT NULL DEFAULT '',
  `number` decimal(5,2) NOT NULL DEFAULT 1.50,
  `stamp` timestamp NOT NULL DEFAULT current_timestamp() ON UPDATE current_timestamp(),
  `parent` int,
  `plus` int GENERATED ALWAYS AS (`parent` + 1) VIRTUAL,
  `twice` int AS (`parent` * 2) STORED COMMENT 'twice | the parent',
  `hidden` int INVISIBLE,
  PRIMARY KEY (`id`), UNIQUE KEY (`code`), KEY (`parent`)
) ENGINE=InnoDB COMMENT 'Columns with *every* detail';
CREATE TABLE old_engine (a int) ENGINE=MyISAM;
CREATE VIEW details_view AS SELECT id, code, twice FROM details;
CREATE SEQUENCE counter;
CREATE TABLE versioned (a int) WITH SYSTEM VERSIONING;
