import './base.css';
