-- A small shop database to try the program on.
CREATE DATABASE IF NOT EXISTS shop CHARACTER SET utf8mb4;
USE shop;
CREATE TABLE IF NOT EXISTS customers (
  id int unsigned NOT NULL AUTO_INCREMENT PRIMARY KEY,
  name varchar(45) NOT NULL,
  email varchar(120),
  country char(2),
  balance decimal(10,2) NOT NULL DEFAULT 0,
  newsletter tinyint(1) NOT NULL DEFAULT 0,
  created_at datetime NOT NULL DEFAULT CURRENT_TIMESTAMP
);
CREATE TABLE IF NOT EXISTS products (
  sku char(10) NOT NULL PRIMARY KEY,
  title varchar(200) NOT NULL,
  description text,
  price decimal(8,2) NOT NULL,
  weight_kg float,
  stock smallint NOT NULL DEFAULT 0,
  photo mediumblob
);
CREATE TABLE IF NOT EXISTS orders (
  order_id bigint unsigned NOT NULL AUTO_INCREMENT PRIMARY KEY,
  customer_id int unsigned NOT NULL,
  customer_reference_number varchar(30),
  ordered_on date NOT NULL,
  shipped_at timestamp NULL,
  status enum('new','paid','shipped','cancelled') NOT NULL DEFAULT 'new',
  notes json
);
CREATE TABLE IF NOT EXISTS order_items (
  order_id bigint unsigned NOT NULL,
  sku char(10) NOT NULL,
  quantity int NOT NULL,
  unit_price decimal(8,2) NOT NULL,
  PRIMARY KEY (order_id, sku)
);
CREATE TABLE IF NOT EXISTS system_settings (name varchar(64) PRIMARY KEY, value text);
CREATE TABLE IF NOT EXISTS sys_audit_log (id bigint PRIMARY KEY, happened_at datetime, entry text);
INSERT IGNORE INTO customers (id, name, email, country, balance, newsletter) VALUES
  (1, 'Ada Lindqvist', 'ada@example.org', 'SE', 120.50, 1),
  (2, 'Jonas Weber', 'jonas@example.org', 'DE', 0, 0);
INSERT IGNORE INTO products (sku, title, price, weight_kg, stock) VALUES
  ('MUG-001', 'Enamel mug', 12.90, 0.3, 140),
  ('LAMP-07', 'Desk lamp', 49.00, 1.2, 12);
